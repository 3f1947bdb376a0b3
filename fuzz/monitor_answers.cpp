// The harness of the engine-answer targets (fuzz/monitor_answers.h): a
// status model with everything a handler is given, in the state a running
// poller has reached (folder known, a few unsynced files, transfers and
// devices), and the checks every answer must leave true.
//
// Each input is handled twice by a fresh harness: the second time as the
// repeat of an unchanged answer, as the poller meets it every second.

#include "fuzz/monitor_answers.h"

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "monitor/answer_handlers.h"
#include "monitor/events.h"
#include "monitor/format.h"

namespace orlin::fuzz {
namespace {

// The folder and device the seeds of the captured answers name.
inline constexpr std::string_view kFolderId = "default";
inline constexpr std::string_view kDeviceId = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";

class CountingSink final : public RequestSink {
 public:
  void Submit(const PollRequest& request) override {
    ++submitted;
    lastUrl = request.url;
  }
  void PostJson(const std::string&, const std::string&) override { ++posted; }
  int submitted = 0;
  int posted = 0;
  std::string lastUrl;
};

class QuietView final : public StatusView {
 public:
  void SetStatusLabel(const std::wstring& key) override { label = key; }
  void SetProgress(std::int32_t percent) override { progress = percent; }
  std::wstring label;
  std::int32_t progress = 0;
};

struct MonitorHarness {
  StatusModel model;
  DiagnosticLog log;
  CountingSink sink;
  SteppingClock clock;
  QuietWindow window;
  QuietView view;
  MonitorContext ctx{model, log, sink, clock, &window, &view};

  // `variant` picks the folder type, so receive-only and send-only paths
  // are reached by the same corpus.
  explicit MonitorHarness(std::size_t variant = 0) {
    model.folder.SetFolderId(kFolderId);
    model.folder.folderType.store(static_cast<std::int32_t>(variant % 3));
    model.folder.SetFolderStateText("syncing");
    model.folder.statusCode.store(SharedFolderState::kSyncing);
    ctx.rateStopwatch = clock.SteadyNow();

    FileItemRecord waiting;
    SetField(waiting.name, "a.txt");
    SetField(waiting.status, "queued");
    FileItemRecord moving;
    SetField(moving.name, "big/b.bin");
    SetField(moving.status, "progress");
    moving.percent = 40;
    model.unsynced.Replace({waiting, moving});
    model.inProgress.Replace({moving});

    DeviceRecord server = DeviceRecord::NewDevice(kDeviceId);
    server.connected = 1;
    SetField(server.time, "2026-12-08T18:23:04Z");
    model.devices.Replace({server, DeviceRecord::NewDevice("YAW4Z2H-AIDIYSL-3GQGGTZ-XPCTF44-2PS6623-NOI2GZU-Z5ILP2I-UDQKEAD")});
  }

  // Handles `body` as the answer to `url`, then `repeats` times more as the
  // repeat of an unchanged answer.
  template <typename Handler>
  void Feed(Handler handler, std::string url, std::string_view body, int repeats = 1) {
    PollAnswer answer{PollRequest{std::move(url)}, std::string(), std::string(body)};
    for (int i = 0; i <= repeats; ++i) {
      ctx.answerRepeats = i > 0;
      handler(ctx, answer);
      CheckModel();
    }
  }

  // What no answer may break: the lists stay within their capacity, the
  // percent and the progress bar within 0..100, the event positions are
  // numbers, and every figure can be shown.
  void CheckModel() {
    FUZZ_CHECK(model.syncEvents.Size() <= kListCapacity, "sync events list capped");
    FUZZ_CHECK(model.conflicts.Size() <= kListCapacity, "conflicts list capped");
    // One page of each group (progress, queued, rest), beside the two rows
    // the harness starts with.
    FUZZ_CHECK(model.unsynced.Size() <= 3 * kListCapacity + 2, "unsynced groups capped");
    FUZZ_CHECK(model.inProgress.Size() <= kListCapacity, "transfers list capped");
    FUZZ_CHECK(model.failed.Size() <= kListCapacity, "failed list capped");
    FUZZ_CHECK(model.locallyChanged.Size() <= kListCapacity, "locally changed list capped");
    FUZZ_CHECK(model.lastSynced.Size() <= kListCapacity, "last synced list capped");
    const std::int32_t percent = model.folder.folderPercent.load();
    FUZZ_CHECK(percent >= 0 && percent <= 100, "folder percent within 0..100");
    const std::int32_t progress = model.folder.progress.load();
    FUZZ_CHECK(progress >= 0 && progress <= 100, "progress bar within 0..100");
    FUZZ_CHECK(IsCursor(model.poll.diskEventsCursor), "disk events cursor is a number");
    FUZZ_CHECK(IsCursor(model.poll.lastGeneralEventId), "general event position is a number");
    model.devices.Locked([](const std::deque<DeviceRecord>& devices) {
      for (const DeviceRecord& device : devices) {
        FUZZ_CHECK(!FieldText(device.deviceId).empty(), "every device has an id");
      }
    });
    const SystemSummary summary = model.Summary();
    FormatUptime(summary.uptime, true);
    FUZZ_CHECK(!FormatSize(summary.memory).empty(), "memory formats");
    for (const FileItemRecord& row : model.unsynced.Snapshot()) {
      FUZZ_CHECK(row.percent >= 0 && row.percent <= 100, "an unsynced row's percent within 0..100");
    }
  }

  static bool IsCursor(const std::string& text) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  }
};


bool SameDeviceTwice(const std::vector<DeviceRecord>& devices) {
  for (std::size_t i = 0; i < devices.size(); ++i) {
    for (std::size_t j = i + 1; j < devices.size(); ++j) {
      if (FieldText(devices[i].deviceId) == FieldText(devices[j].deviceId)) return true;
    }
  }
  return false;
}

}  // namespace

void FuzzDiskEvents(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.Feed(HandleDiskEvents, DiskEventsUrl(h.model.poll.diskEventsCursor), body);
  // Every row names a path, and a conflict copy never makes a sync-events row.
  for (const SyncEventRecord& row : h.model.syncEvents.Snapshot()) {
    FUZZ_CHECK(!row.path.empty(), "a sync-events row names a path");
    FUZZ_CHECK(row.path.find(kConflictInfix) == std::string::npos, "a conflict copy makes no sync-events row");
  }
  // The same answer twice lists a conflict once.
  std::vector<PathTimeRecord> conflicts = h.model.conflicts.Snapshot();
  std::sort(conflicts.begin(), conflicts.end(),
            [](const PathTimeRecord& a, const PathTimeRecord& b) { return a.path < b.path; });
  for (std::size_t i = 1; i < conflicts.size(); ++i) {
    FUZZ_CHECK(conflicts[i - 1].path != conflicts[i].path, "a conflict is listed once");
  }
}

void FuzzEventStream(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  // The start-up labels are set only while no folder state is known.
  if (variant % 2 == 0) h.model.folder.SetFolderStateText("");
  h.Feed(HandleEventStream, rest::Url(rest::kEvents) + "?since=0&limit=1", body);
  for (const FileItemRecord& row : h.model.inProgress.Snapshot()) {
    FUZZ_CHECK(row.percent >= 0 && row.percent < 100, "a transfer in progress is below 100 percent");
  }
  FUZZ_CHECK(!SameDeviceTwice(h.model.devices.Snapshot()), "a device is listed once");
}

void FuzzFolderCompletion(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  const std::size_t before = h.model.devices.Size();
  h.Feed(HandleFolderCompletionEvents, rest::Url(rest::kEvents) + "?since=0&events=FolderCompletion", body);
  // A device is added once, however often the answer names it.
  FUZZ_CHECK(h.model.devices.Size() >= before, "no device is forgotten");
  FUZZ_CHECK(!SameDeviceTwice(h.model.devices.Snapshot()), "a device is listed once");
}

void FuzzFolderStatus(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  // Every fourth input meets a scan in progress, as the event feed reports it.
  if (variant % 4 == 1) {
    h.model.poll.scanTotal = 1000;
    h.model.poll.scanCurrent = 250;
  }
  h.model.poll.answerCounter = static_cast<std::int32_t>(variant % 60);
  // Ten answers in a row let the sampled percent move.
  h.Feed(HandleFolderStatus, rest::FolderUrl(rest::kDbStatus, kFolderId), body, 10);
}

void FuzzUnsyncedFiles(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.Feed(HandleUnsyncedFiles, UnsyncedFilesUrl(kFolderId), body);
  for (const FileItemRecord& row : h.model.unsynced.Snapshot()) {
    FUZZ_CHECK(!row.name.empty(), "an unsynced row names a file");
  }
}

void FuzzFailedFiles(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.Feed(HandleFailedFiles, FailedFilesUrl(h.model), body);
}

void FuzzLocallyChanged(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.Feed(HandleLocallyChanged, LocallyChangedUrl(h.model), body);
}

void FuzzFolderStatistics(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.Feed(HandleFolderStatistics, rest::Url(rest::kStatsFolder), body);
  for (const FileItemRecord& row : h.model.lastSynced.Snapshot()) {
    FUZZ_CHECK(!row.name.empty(), "a last-synced row names a file");
  }
}

void FuzzFolderFromConfig(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.model.folder.SetFolderId("");
  // The folder discovery alone, or as the step of a resume.
  PollAnswer answer{PollRequest{rest::Url(rest::kSystemConfig), kKindFolderDiscovery,
                                variant % 2 == 0 ? kKindResume : 0},
                    std::string(), std::string(body)};
  HandleFolderFromConfig(h.ctx, answer);
  h.CheckModel();
}

void FuzzSystemStatus(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.model.poll.engineStartTime = "2026-12-08T18:22:59.1+01:00";
  h.model.poll.diskEventsCursor = "17";
  h.Feed(HandleSystemStatus, rest::Url(rest::kSystemStatus), body);
  const SystemSummary summary = h.model.Summary();
  FUZZ_CHECK(summary.uptime.totalSeconds >= 0, "the uptime is never negative");
  FormatUptime(summary.uptime, false);
}

void FuzzSystemVersion(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.Feed(HandleSystemVersion, rest::Url(rest::kSystemVersion), body);
  // The discovery answer is only checked for being an object.
  h.Feed(HandleDiscovery, rest::Url(rest::kSystemDiscovery), body);
}

void FuzzConnections(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  h.Feed(HandleConnections, rest::Url(rest::kSystemConnections), body);
  FUZZ_CHECK(!SameDeviceTwice(h.model.devices.Snapshot()), "a device is listed once");
}

void FuzzDeviceNames(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  const std::size_t before = h.model.devices.Size();
  h.Feed(HandleDeviceNames, rest::Url(rest::kSystemConfig), body);
  FUZZ_CHECK(h.model.devices.Size() == before, "names never add devices");
}

void FuzzRemoteCompletion(std::string_view body, std::size_t variant) {
  MonitorHarness h(variant);
  const std::string url =
      rest::FolderUrl(rest::kDbCompletion, kFolderId) + "&device=" + rest::PercentEncode(kDeviceId);
  h.Feed(HandleRemoteCompletion, url, body);
  for (const DeviceRecord& device : h.model.devices.Snapshot()) {
    if (FieldText(device.deviceId) != kDeviceId) continue;
    FUZZ_CHECK(device.completion >= 0 && device.completion <= 100, "a completion answer gives 0..100 percent");
  }
}

}  // namespace orlin::fuzz
