// The folder: its status and everything derived from it (status key,
// progress, totals, status code), and the file lists read for it (unsynced,
// failed, locally changed, last synced).
//
// Everything here runs on the request loop thread. Lists are replaced under
// their own locks; their changed flags are set after the lock is released.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "monitor/answer_handlers.h"
#include "monitor/file_lists.h"
#include "monitor/folder_state.h"
#include "monitor/format.h"
#include "monitor/json_read.h"
#include "monitor/parse_memo.h"

namespace orlin {
namespace {

constexpr std::string_view kLogFolderStatus = "StatusFolder  本地文件夹完成状态";
constexpr std::string_view kLogUnsynced = "RemoteNeed 获取远程所需";
constexpr std::string_view kLogUnsyncedEmpty = "RemoteNeed 空的json";
constexpr std::string_view kLogFailed = "获取错误项";
constexpr std::string_view kLogFailedEmpty = "获取错误项空的json";
constexpr std::string_view kLogLocallyChanged = "本地改变项";
constexpr std::string_view kLogLocallyChangedEmpty = "本地改变项 空的json";
constexpr std::string_view kLogStats = "StatsFolder  最后发现";
constexpr std::string_view kLogStatsEmpty = "StatsFolder 空的json";
constexpr std::string_view kLogFolderFromConfig = "GetSyncFolder 获取同步文件夹ID";
constexpr std::string_view kLogFolderFromConfigEmpty = "GetSyncFolder 空的json";

// Texts that cut an engine error down to what the user reads.
constexpr std::size_t kErrorPrefixLength = 8;
// The folder status refreshes the totals labels once this many answers passed.
constexpr std::int32_t kTotalsEveryAnswers = 50;
constexpr std::int32_t kSettingsPause = 8;
constexpr std::int32_t kSettingsPauseReported = 9;

FolderStatus ReadFolderStatus(const Json::Value& v) {
  using json::Member;
  using json::U64;
  FolderStatus s;
  s.globalBytes = U64(Member(v, "globalBytes"));
  s.globalDeleted = U64(Member(v, "globalDeleted"));
  s.globalDirectories = U64(Member(v, "globalDirectories"));
  s.globalFiles = U64(Member(v, "globalFiles"));
  s.globalSymlinks = U64(Member(v, "globalSymlinks"));
  s.globalTotalItems = U64(Member(v, "globalTotalItems"));
  s.ignorePatterns = json::Bool(Member(v, "ignorePatterns"));
  s.inSyncBytes = U64(Member(v, "inSyncBytes"));
  s.inSyncFiles = U64(Member(v, "inSyncFiles"));
  s.invalid = json::Text(Member(v, "invalid"));
  s.localBytes = U64(Member(v, "localBytes"));
  s.localDeleted = U64(Member(v, "localDeleted"));
  s.localDirectories = U64(Member(v, "localDirectories"));
  s.localFiles = U64(Member(v, "localFiles"));
  s.localSymlinks = U64(Member(v, "localSymlinks"));
  s.localTotalItems = U64(Member(v, "localTotalItems"));
  s.needBytes = U64(Member(v, "needBytes"));
  s.needDeletes = U64(Member(v, "needDeletes"));
  s.needDirectories = U64(Member(v, "needDirectories"));
  s.needFiles = U64(Member(v, "needFiles"));
  s.needSymlinks = U64(Member(v, "needSymlinks"));
  s.needTotalItems = U64(Member(v, "needTotalItems"));
  s.pullErrors = U64(Member(v, "pullErrors"));
  s.state = json::Text(Member(v, "state"));
  s.receiveOnlyTotalItems = U64(Member(v, "receiveOnlyTotalItems"));
  s.watchError = json::Text(Member(v, "watchError"));
  return s;
}

void ClearUnsynced(StatusModel& model) {
  model.unsynced.Replace({});
  model.unsynced.MarkChanged();
}

void RequestFailedFiles(MonitorContext& ctx, const FolderStatus& s, const std::string& folderId) {
  auto& poll = ctx.model.poll;
  if (folderId.empty()) return;
  if (s.pullErrors != poll.lastRequestedErrorCount) {
    poll.lastRequestedErrorCount = s.pullErrors;
    ctx.Get(FailedFilesUrl(ctx.model));
    ctx.Post(kMsgFailedCount, s.pullErrors & 0xFFFFFFFFu);
  }
  // With no errors the list is read again (and so emptied) every time.
  if (s.pullErrors == 0 && poll.lastRequestedErrorCount == 0) {
    ctx.Get(FailedFilesUrl(ctx.model));
    ctx.Post(kMsgFailedCount, 0);
  }
}

// Older engines name a directory "DIRECTORY", this one
// "FILE_INFO_TYPE_DIRECTORY"; neither is a file the user waits for.
bool IsDirectoryType(std::string_view type) { return type == "DIRECTORY" || type == "FILE_INFO_TYPE_DIRECTORY"; }

FileItemRecord UnsyncedRow(const Json::Value& item, std::string_view group, const std::string& now) {
  FileItemRecord row;
  SetField(row.name, json::Text(json::Member(item, "name")));
  SetField(row.status, group);
  SetField(row.time, now);
  row.size = json::U64(json::Member(item, "size"));
  return row;
}

}  // namespace

std::string FailedFilesUrl(const StatusModel& model) {
  const std::string id = model.folder.FolderId();
  if (id.empty()) return {};
  return rest::FolderUrl(rest::kFolderErrors, id) + "&page=1&perpage=" +
         std::to_string(model.poll.lastRequestedErrorCount);
}

std::string LocallyChangedUrl(const StatusModel& model) {
  const std::string id = model.folder.FolderId();
  if (id.empty()) return {};
  return rest::FolderUrl(rest::kDbLocalChanged, id) + "&page=1&perpage=" +
         std::to_string(model.folder.lastRequestedChangeCount.load());
}

std::string UnsyncedFilesUrl(std::string_view folderId) {
  return rest::FolderUrl(rest::kDbNeed, folderId) + "&page=1&perpage=" + std::to_string(kListCapacity);
}

void HandleFolderStatus(MonitorContext& ctx, const PollAnswer& answer) {
  auto& model = ctx.model;
  auto& folder = model.folder;
  auto& poll = model.poll;
  // An idle folder answers the same text every time: what it said is read
  // once, and everything below (the percent samples, the counts, the
  // messages) still runs for every answer.
  if (!ctx.answerRepeats || !poll.folderStatusRead) {
    Json::Value root;
    poll.folderStatusRead = json::Parse(answer.body, root) && root.isObject();
    if (!poll.folderStatusRead) return;  // asked again by the dispatcher
    poll.folderStatus = ReadFolderStatus(root);
  }
  ctx.log.Write(kLogFolderStatus);

  const FolderStatus s = poll.folderStatus;
  folder.unsyncedFileCount.store(s.needFiles);
  const std::string folderId = folder.FolderId();

  // A receive-only folder with local changes: the revert button's count, and
  // the list of those changes when the count moved.
  if (folder.folderType.load() == SharedFolderState::kReceiveOnly) {
    const std::uint64_t changed = s.receiveOnlyTotalItems;
    if (changed != folder.lastRequestedChangeCount.load()) {
      folder.lastRequestedChangeCount.store(changed);
      if (changed > 0 && !folderId.empty()) ctx.Get(LocallyChangedUrl(model));
    }
  }

  FolderProgress before;
  before.percent = folder.folderPercent.load();
  before.storedMaximum = poll.storedMaximum;
  before.samples = poll.percentSamples;
  before.statusCode = folder.statusCode.load();
  before.statusKey = folder.StatusKey();
  before.progress = folder.progress.load();
  FolderFacts facts;
  facts.folderType = folder.folderType.load();
  facts.pauseBeingApplied = folder.lastConfigKind.load() == kKindPause;
  facts.scanTotal = poll.scanTotal;
  facts.scanCurrent = poll.scanCurrent;
  const DerivedFolderState derived = DeriveFolderState(s, before, facts);
  const FolderProgress& after = derived.after;
  const std::string& state = derived.stateText;

  SystemSummary summary = model.Summary();
  if (poll.answerCounter >= kTotalsEveryAnswers || summary.fileCountText.empty()) {
    model.UpdateSummary([&](SystemSummary& out) {
      out.fileCountText = std::to_wstring(s.localFiles);
      out.folderCountText = std::to_wstring(s.localDirectories);
      out.sizeText = FormatSize(s.localBytes);
    });
    if (poll.answerCounter >= kTotalsEveryAnswers) poll.answerCounter = 0;
  }

  // The model first, then the window: whoever reads the model after the
  // window was told reads what the window shows.
  poll.storedMaximum = after.storedMaximum;
  poll.percentSamples = after.samples;
  folder.folderPercent.store(after.percent);
  folder.SetFolderStateText(state);
  if (folder.pauseParameter.load() == kSettingsPause && state == "paused") {
    ctx.Post(kMsgToolbarLock, 1);
    folder.pauseParameter.store(kSettingsPauseReported);
  }
  folder.statusCode.store(after.statusCode);
  if (derived.labelSet) ctx.SetStatusLabel(after.statusKey);
  if (derived.progressSet) ctx.SetProgress(after.progress);
  if (derived.offerOverride) ctx.Send(kMsgOverrideAvailable, 1);
  if (derived.showLocalChanges) ctx.Send(kMsgLocalChangesCount, folder.lastRequestedChangeCount.load() & 0xFFFFFFFFu);
  if (derived.clearUnsynced) ClearUnsynced(model);
  if (derived.syncReachedEnd) ctx.Post(kMsgUnsyncedChanged);

  if (!folderId.empty() && (s.needTotalItems != poll.lastRequestedNeedCount || s.needDeletes != 0)) {
    poll.lastRequestedNeedCount = s.needTotalItems;
    poll.unsyncedFilesUrl = UnsyncedFilesUrl(folderId);
    ctx.Get(poll.unsyncedFilesUrl);
  }
  RequestFailedFiles(ctx, s, folderId);
  ctx.Post(kMsgTotalsChanged);
  ctx.Post(kMsgUnsyncedChanged);
}

void HandleUnsyncedFiles(MonitorContext& ctx, const PollAnswer& answer) {
  Json::Value root;
  if (!json::Parse(answer.body, root) || !root.isObject()) {
    ctx.log.Write(kLogUnsyncedEmpty);
    return;
  }
  ctx.log.Write(kLogUnsynced);
  const std::string now = LocalTimeText(ctx.clock.WallNow());
  const std::vector<FileItemRecord> inProgress = ctx.model.inProgress.Snapshot();
  auto findInProgress = [&](std::string_view name) -> const FileItemRecord* {
    for (const FileItemRecord& row : inProgress) {
      if (FieldText(row.name) == name) return &row;
    }
    return nullptr;
  };

  struct Group {
    const char* key;
    std::string_view emptyLog;
    std::vector<FileItemRecord> rows;
  };
  Group groups[] = {{"progress", "DBNeed Progress 空的json", {}},
                    {"queued", "DBNeed Queued 空的json", {}},
                    {"rest", "DBNeed Rest 空的json", {}}};
  for (Group& group : groups) {
    const Json::Value& items = json::Member(root, group.key);
    if (!items.isArray()) {
      ctx.log.Write(group.emptyLog);
      continue;
    }
    for (const Json::Value& item : items) {
      if (group.rows.size() >= kListCapacity) break;
      const std::string name = json::Text(json::Member(item, "name"));
      if (name.empty() || IsDirectoryType(json::Text(json::Member(item, "type")))) continue;
      FileItemRecord row = UnsyncedRow(item, group.key, now);
      const FileItemRecord* transfer = findInProgress(FieldText(row.name));
      if (std::strcmp(group.key, "progress") == 0) {
        if (transfer != nullptr && transfer->percent > row.percent) {
          row.percent = transfer->percent;
          std::memcpy(row.time, transfer->time, sizeof row.time);
        }
        group.rows.push_back(row);
      } else if (transfer == nullptr) {
        group.rows.push_back(row);
      }
    }
  }

  std::vector<FileItemRecord> rows = std::move(groups[0].rows);
  if (rows.empty()) rows = inProgress;
  std::sort(rows.begin(), rows.end(), UnsyncedRowBefore);
  rows.insert(rows.end(), groups[1].rows.begin(), groups[1].rows.end());
  rows.insert(rows.end(), groups[2].rows.begin(), groups[2].rows.end());
  ctx.model.unsynced.Replace(std::move(rows));
  ctx.model.unsynced.MarkChanged();
}

void HandleFailedFiles(MonitorContext& ctx, const PollAnswer& answer) {
  Json::Value root;
  if (!json::Parse(answer.body, root) || !root.isObject()) {
    ctx.log.Write(kLogFailedEmpty);
    return;
  }
  ctx.log.Write(kLogFailed);
  std::vector<ErrorRecord> rows;
  const Json::Value& errors = json::Member(root, "errors");
  if (errors.isArray()) {
    for (const Json::Value& item : errors) {
      if (rows.size() >= kListCapacity) break;
      ErrorRecord row;
      SetField(row.path, json::Text(json::Member(item, "path")));
      const std::string error = json::Text(json::Member(item, "error"));
      SetField(row.error, error.size() > kErrorPrefixLength ? std::string_view(error).substr(kErrorPrefixLength)
                                                           : std::string_view());
      rows.push_back(row);
    }
  }
  ctx.model.failed.Replace(std::move(rows));
  ctx.model.failed.MarkChanged();
}

void HandleLocallyChanged(MonitorContext& ctx, const PollAnswer& answer) {
  Json::Value root;
  if (!json::Parse(answer.body, root) || !root.isObject()) {
    ctx.log.Write(kLogLocallyChangedEmpty);
    return;
  }
  ctx.log.Write(kLogLocallyChanged);
  const Json::Value& files = json::Member(root, "files");
  if (!files.isArray() || files.empty()) return;  // the earlier rows stay
  std::vector<PathTimeRecord> rows;
  for (const Json::Value& item : files) {
    if (rows.size() >= kListCapacity) break;
    PathTimeRecord row;
    SetField(row.path, json::Text(json::Member(item, "name")));
    SetField(row.time, EngineTimeToText(json::Text(json::Member(item, "modified"))));
    row.size = json::U64(json::Member(item, "size"));
    rows.push_back(row);
  }
  ctx.model.locallyChanged.Replace(std::move(rows));
  ctx.model.locallyChanged.MarkChanged();
}

void HandleFolderStatistics(MonitorContext& ctx, const PollAnswer& answer) {
  const Json::Value* parsed = MemosOf(ctx).folderStatistics.Parse(answer.body);
  if (parsed == nullptr || !parsed->isObject()) {
    ctx.log.Write(kLogStatsEmpty);
    return;
  }
  const Json::Value& root = *parsed;
  ctx.log.Write(kLogStats);
  for (const std::string& key : root.getMemberNames()) {
    // Each folder's statistics are an object; anything else names no folder.
    if (!root[key].isObject()) continue;
    const Json::Value& lastFile = json::Member(root[key], "lastFile");
    if (lastFile.isObject()) {
      FileItemRecord row;
      SetField(row.name, json::Text(json::Member(lastFile, "filename")));
      SetField(row.tag, "lastfind");
      SetField(row.time, EngineTimeToText(json::Text(json::Member(lastFile, "at"))));
      if (FieldText(row.time) != kEngineZeroTimeText && !FieldText(row.name).empty()) {
        InsertLastSynced(ctx.model, row);
      }
    }
    if (key != ctx.model.folder.FolderId()) {
      ctx.model.folder.SetFolderId(key);
      ctx.Get(rest::FolderUrl(rest::kDbStatus, key));
    }
  }
}

void HandleFolderFromConfig(MonitorContext& ctx, const PollAnswer& answer) {
  Json::Value root;
  if (!json::Parse(answer.body, root) || !root.isObject()) {
    ctx.log.Write(kLogFolderFromConfigEmpty);
    return;
  }
  ctx.log.Write(kLogFolderFromConfig);
  const Json::Value& folders = json::Member(root, "folders");
  if (folders.isArray()) {
    for (const Json::Value& folder : folders) {
      const std::string id = json::Text(json::Member(folder, "id"));
      if (id.empty()) continue;
      ctx.model.folder.SetFolderId(id);
      ctx.Get(rest::FolderUrl(rest::kDbStatus, id));
    }
  }
  if (answer.request.parameter == kKindResume) ctx.FetchConfig(kKindResume);
}

}  // namespace orlin
