// The engine's event feeds: disk events into the sync-events and conflicts
// lists, the general feed (device completion, scan figures, download
// progress, start-up labels) and the folder-completion feed.
//
// Everything here runs on the request loop thread. Lists are changed only
// under their own locks; the list-changed flags are set after the lock is
// released, so the data thread never sees a flag before the rows.

#include "monitor/events.h"

#include <cJSON.h>
#include <json/json.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "monitor/answer_handlers.h"
#include "monitor/file_lists.h"
#include "monitor/format.h"
#include "monitor/json_read.h"
#include "monitor/parse_memo.h"

namespace orlin {
namespace {

constexpr std::string_view kLogDiskEvents = "EventDisk 同步事件";
constexpr std::string_view kLogDiskEventsEmpty = "EventDisk 同步事件 空";
constexpr std::string_view kLogEventStream = "EventAPI 事件";
constexpr std::string_view kLogEventStreamEmpty = "EventAPI  空的json";
constexpr std::string_view kLogFolderCompletion = "FolderCompletion  全部文件夹完成状态";
constexpr std::string_view kLogFolderCompletionEmpty = "FolderCompletion 空的json";
constexpr std::string_view kLogEventsFromStart = "EventDisk 引擎已重启 事件从头读取";

// --- jsoncpp values (monitor/json_read.h never calls an accessor on the wrong type).

using json::Member;
using json::Text;
using json::U64;

double Real(const Json::Value& value) {
  if (value.isNumeric()) return value.asDouble();
  return 0;
}

// An event id as decimal text; empty when the value is no usable id.
std::string IdText(const Json::Value& value) {
  if (value.isUInt64()) return std::to_string(value.asUInt64());
  return std::string();
}

// A feed answer that is a single object rather than an array is wrapped.
std::string AsArrayText(std::string_view body) {
  std::size_t first = body.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && body[first] == '[') return std::string(body);
  std::string wrapped;
  wrapped.reserve(body.size() + 2);
  wrapped += '[';
  wrapped += body;
  wrapped += ']';
  return wrapped;
}

bool Paused(const MonitorContext& ctx) { return ctx.model.folder.statusCode.load() == SharedFolderState::kPaused; }

// --- cJSON (the folder-completion feed).

struct CJsonDeleter {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using CJsonPtr = std::unique_ptr<cJSON, CJsonDeleter>;

std::string CText(const cJSON* object, const char* key) {
  const cJSON* item = cJSON_GetObjectItem(object, key);
  return cJSON_IsString(item) && item->valuestring != nullptr ? std::string(item->valuestring) : std::string();
}
double CReal(const cJSON* object, const char* key) {
  const cJSON* item = cJSON_GetObjectItem(object, key);
  return cJSON_IsNumber(item) ? item->valuedouble : 0.0;
}
std::uint64_t CU64(const cJSON* object, const char* key) { return DoubleToU64(CReal(object, key)); }

void RequestUnsyncedFiles(MonitorContext& ctx, const std::string& folderId) {
  std::string url = UnsyncedFilesUrl(folderId);
  ctx.model.poll.unsyncedFilesUrl = url;
  ctx.Get(std::move(url));
}

// DownloadProgress: data is keyed by folder, then by file name.
void HandleDownloadProgress(MonitorContext& ctx, const Json::Value& event, const std::string& folderId) {
  std::string time = EngineTimeToText(Text(Member(event, "time")));
  const Json::Value& files = Member(Member(event, "data"), folderId.c_str());

  struct Progress {
    std::wstring name;
    std::string utf8Name;
    std::int32_t percent = 0;
    std::uint64_t total = 0;
  };
  std::vector<Progress> progress;
  if (files.isObject()) {
    for (const std::string& name : files.getMemberNames()) {
      // A name that is not valid UTF-8 cannot be matched with the unsynced
      // rows or shown; it is left out.
      if (name.empty() || !IsValidUtf8(name)) continue;
      const Json::Value& file = files[name];
      std::uint64_t done = U64(Member(file, "bytesDone"));
      std::uint64_t total = U64(Member(file, "bytesTotal"));
      // More bytes done than the total (a file that grew while it came in)
      // counts as finished rather than as a percent above 100.
      std::int32_t percent = std::min<std::int32_t>(FilePercent(done, total), 100);
      progress.push_back(Progress{Utf8ToWide(name), name, percent, total});
    }
  }

  ctx.model.inProgress.Locked([](std::deque<FileItemRecord>& rows) { rows.clear(); });

  for (const Progress& file : progress) {
    if (file.percent == 100) {
      FileItemRecord finished;
      SetField(finished.name, file.utf8Name);
      SetField(finished.time, time);
      finished.size = file.total;
      InsertLastSynced(ctx.model, finished);
    }
  }

  // Lock order: unsynced files, then in-progress transfers. Whatever holds
  // both locks at once must take them in this order.
  ctx.model.unsynced.Locked([&](std::deque<FileItemRecord>& unsynced) {
    for (const Progress& file : progress) {
      for (auto it = unsynced.begin(); it != unsynced.end();) {
        if (Utf8ToWide(FieldText(it->name)) != file.name) {
          ++it;
          continue;
        }
        if (file.percent == 100) {
          it = unsynced.erase(it);
          continue;
        }
        SetField(it->status, "progress");
        it->percent = file.percent;
        const FileItemRecord entry = *it;
        ctx.model.inProgress.Locked([&](std::deque<FileItemRecord>& transfers) {
          auto same = std::find_if(transfers.begin(), transfers.end(), [&](const FileItemRecord& row) {
            return FieldText(row.name) == FieldText(entry.name);
          });
          if (same == transfers.end()) {
            if (transfers.size() >= kListCapacity) transfers.pop_front();
            transfers.push_back(entry);
          } else {
            same->percent = file.percent;
          }
        });
        ++it;
      }
    }
    std::stable_sort(unsynced.begin(), unsynced.end(), UnsyncedRowBefore);
  });
  ctx.model.unsynced.MarkChanged();
  RequestUnsyncedFiles(ctx, folderId);
}

CompletionFigures CompletionFromJson(const Json::Value& event) {
  const Json::Value& data = Member(event, "data");
  CompletionFigures figures;
  figures.deviceId = Text(Member(data, "device"));
  figures.folder = Text(Member(data, "folder"));
  figures.time = Text(Member(event, "time"));
  figures.completion = Real(Member(data, "completion"));
  figures.needItems = U64(Member(data, "needItems"));
  figures.globalBytes = U64(Member(data, "globalBytes"));
  figures.needBytes = U64(Member(data, "needBytes"));
  figures.needDeletes = U64(Member(data, "needDeletes"));
  return figures;
}

}  // namespace

std::string ConflictOriginalPath(std::string_view path) {
  std::size_t infix = path.find(kConflictInfix);
  if (infix == std::string_view::npos) return std::string(path);
  std::size_t lastDot = path.rfind('.');
  std::string original(path.substr(0, infix));
  original += path.substr(lastDot);
  return original;
}

bool ApplyCompletionEvent(GuardedList<DeviceRecord>& devices, const CompletionFigures& event) {
  // Compare in the form the record stores, so an over-long id still finds
  // the record it created.
  DeviceRecord probe;
  SetField(probe.deviceId, event.deviceId);
  SetField(probe.time, event.time);
  // An id that stores as nothing (empty, or "\u0000..." in the answer) names
  // no device: its record would be a row without an ID.
  if (FieldText(probe.deviceId).empty()) return false;
  devices.Locked([&](std::deque<DeviceRecord>& rows) {
    auto it = std::find_if(rows.begin(), rows.end(), [&](const DeviceRecord& row) {
      return FieldText(row.deviceId) == FieldText(probe.deviceId);
    });
    DeviceRecord* record = nullptr;
    if (it == rows.end()) {
      rows.push_back(DeviceRecord::NewDevice(event.deviceId));
      record = &rows.back();
    } else {
      std::string_view stored = FieldText(it->time);
      if (!stored.empty() && !(stored < FieldText(probe.time))) return;  // older or equal event
      record = &*it;
      std::memcpy(record->time, probe.time, sizeof record->time);
    }
    SetField(record->folder, event.folder);
    record->completion = event.completion;
    record->needItems = event.needItems;
    record->globalBytes = event.globalBytes;
    record->needBytes = event.needBytes;
    record->needDeletes = event.needDeletes;
  });
  return true;
}

std::string DiskEventsUrl(std::string_view cursor) {
  std::string url = rest::Url(rest::kDiskEvents) + "?since=";
  url += cursor;
  return url;
}

void StartEventFeedsOver(MonitorContext& ctx) {
  PollState& poll = ctx.model.poll;
  if (poll.diskEventsCursor == "0") return;  // already from the start
  ctx.log.Write(kLogEventsFromStart);
  poll.diskEventsCursor = "0";
  poll.lastGeneralEventId = "0";
  ctx.Get(DiskEventsUrl(poll.diskEventsCursor));
}

void HandleDiskEvents(MonitorContext& ctx, const PollAnswer& answer) {
  if (Paused(ctx)) return;
  Json::Value events;
  if (!json::Parse(AsArrayText(answer.body), events) || !events.isArray() || events.empty()) {
    ctx.log.Write(kLogDiskEventsEmpty);
    return;
  }
  ctx.log.Write(kLogDiskEvents);

  std::vector<SyncEventRecord> rows;
  std::vector<PathTimeRecord> conflicts;
  std::vector<FileItemRecord> arrived;
  for (const Json::Value& event : events) {
    if (!event.isObject()) continue;
    // An event without a usable id keeps the cursor where it is, so the next
    // request does not start the feed over.
    std::string id = IdText(Member(event, "id"));
    if (!id.empty()) ctx.model.poll.diskEventsCursor = id;

    const Json::Value& data = Member(event, "data");
    std::string type = Text(Member(event, "type"));
    std::string action = Text(Member(data, "action"));
    std::string path = Text(Member(data, "path"));
    std::string time = EngineTimeToText(Text(Member(event, "time")));
    // Rows hold UTF-8; a path that is not valid UTF-8 would show as garbage
    // and could never be matched, so it makes no row.
    if (!IsValidUtf8(path)) continue;
    // Every change event names a path; an entry without one has nothing to show.
    if (path.empty()) continue;

    // A file the remote side changed has been synchronised: the folder
    // statistics name only the last one per poll, so files arriving within
    // a second would otherwise show as one.
    if (type == "RemoteChangeDetected" && Text(Member(data, "type")) != "dir") {
      FileItemRecord file;
      SetField(file.name, path);
      SetField(file.time, time);
      // The event names no size: the row is sized from the file on disk, as
      // the statistics rows are, instead of showing "0 B" for every file.
      SetField(file.tag, "lastfind");
      arrived.push_back(std::move(file));
    }

    if (path.find(kConflictInfix) != std::string::npos) {
      PathTimeRecord conflict;
      SetField(conflict.path, ConflictOriginalPath(path));
      SetField(conflict.time, time);
      conflicts.push_back(conflict);
      continue;
    }
    SyncEventRecord row;
    SetField(row.id, id);
    if (type == "LocalChangeDetected") {
      SetField(row.action, "Local " + action);
    } else if (type == "RemoteChangeDetected") {
      SetField(row.action, "Remote " + action);
    }
    SetField(row.path, path);
    SetField(row.time, time);
    rows.push_back(row);
  }

  // A conflict is listed once: the engine reports its copy again on every
  // change of it, and a path that left the full list must not come back as
  // new, so the paths seen are remembered beyond the list.
  std::vector<PathTimeRecord> newConflicts;
  for (PathTimeRecord& conflict : conflicts) {
    if (ctx.model.poll.seenConflicts.Insert(FieldText(conflict.path))) newConflicts.push_back(std::move(conflict));
  }
  if (!newConflicts.empty()) {
    ctx.model.conflicts.Locked([&](std::deque<PathTimeRecord>& list) {
      for (PathTimeRecord& conflict : newConflicts) {
        while (list.size() >= kListCapacity) list.pop_front();
        list.push_back(std::move(conflict));
      }
    });
    ctx.model.conflicts.MarkChanged();
  }
  if (!arrived.empty()) InsertLastSynced(ctx.model, std::move(arrived));
  if (!rows.empty()) {
    ctx.model.syncEvents.Locked([&](std::deque<SyncEventRecord>& list) {
      for (const SyncEventRecord& row : rows) {
        list.push_back(row);
        while (list.size() > kListCapacity) list.pop_front();
      }
    });
    ctx.model.syncEvents.MarkChanged();
  }
}

void HandleEventStream(MonitorContext& ctx, const PollAnswer& answer) {
  if (Paused(ctx) || answer.body.empty()) return;
  const Json::Value* parsed = MemosOf(ctx).eventStream.Parse(answer.body, AsArrayText);
  if (parsed == nullptr || !parsed->isArray()) {
    ctx.log.Write(kLogEventStreamEmpty);
    return;
  }
  const Json::Value& events = *parsed;
  ctx.log.Write(kLogEventStream);

  bool devicesChanged = false;
  for (const Json::Value& event : events) {
    if (!event.isObject()) continue;
    std::string id = IdText(Member(event, "id"));
    if (!id.empty()) ctx.model.poll.lastGeneralEventId = id;
    std::string type = Text(Member(event, "type"));
    const Json::Value& data = Member(event, "data");

    if (type == "FolderCompletion") {
      if (data.isObject() && ApplyCompletionEvent(ctx.model.devices, CompletionFromJson(event))) devicesChanged = true;
    } else if (type == "FolderScanProgress") {
      if (!data.isObject()) continue;
      ctx.model.poll.scanTotal = U64(Member(data, "total"));
      ctx.model.poll.scanCurrent = U64(Member(data, "current"));
      ctx.model.poll.scanRate = U64(Member(data, "rate"));
      std::string folder = Text(Member(data, "folder"));
      if (!folder.empty()) ctx.model.folder.SetFolderId(folder);
    } else if (type == "Starting") {
      if (ctx.model.folder.FolderStateText().empty()) ctx.SetStatusLabel(L"Orlin Starting");
    } else if (type == "StartupComplete") {
      if (ctx.model.folder.FolderStateText().empty()) ctx.SetStatusLabel(L"Orlin Started");
    } else if (type == "DownloadProgress") {
      std::string folderId = ctx.model.folder.FolderId();
      if (folderId.empty()) break;
      if (data.isObject()) HandleDownloadProgress(ctx, event, folderId);
    }
    // Every other event (configuration saved, summaries, state changes,
    // device connections, item progress) is seen through the status requests.
  }
  if (devicesChanged) ctx.model.devices.MarkChanged();
}

void HandleFolderCompletionEvents(MonitorContext& ctx, const PollAnswer& answer) {
  const cJSON* events = MemosOf(ctx).folderCompletionEvents.Parse(answer.body);
  if (!cJSON_IsArray(events)) {
    ctx.log.Write(kLogFolderCompletionEmpty);
    return;
  }
  ctx.log.Write(kLogFolderCompletion);

  bool changed = false;
  const cJSON* event = nullptr;
  cJSON_ArrayForEach(event, events) {
    if (!cJSON_IsObject(event)) continue;
    const cJSON* data = cJSON_GetObjectItem(event, "data");
    if (!cJSON_IsObject(data)) continue;
    CompletionFigures figures;
    figures.deviceId = CText(data, "device");
    figures.folder = CText(data, "folder");
    figures.time = CText(event, "time");
    figures.completion = CReal(data, "completion");
    figures.needItems = CU64(data, "needItems");
    figures.globalBytes = CU64(data, "globalBytes");
    figures.needBytes = CU64(data, "needBytes");
    figures.needDeletes = CU64(data, "needDeletes");
    if (ApplyCompletionEvent(ctx.model.devices, figures)) changed = true;
  }
  if (changed) ctx.model.devices.MarkChanged();
}

}  // namespace orlin
