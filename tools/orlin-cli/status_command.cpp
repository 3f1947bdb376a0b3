// status: runs the status poller headless and prints what the main window
// would show: the status key and its text, the totals and rates, this
// device's summary, every remote device and every list.

#include <algorithm>
#include <chrono>
#include <functional>
#include <iomanip>
#include <json/json.h>
#include <memory>
#include <ostream>
#include <thread>

#include "cli.h"
#include "common/text.h"
#include "monitor/disk_entry.h"
#include "monitor/format.h"
#include "monitor/status_model.h"
#include "ui/main/main_text_table.h"

namespace orlin::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(100);
// Without --wait or --for the model is printed once the folder percent has
// been sampled (it moves every tenth folder answer; until then an idle
// folder still shows as syncing) and a few more answers have come in.
constexpr std::uint64_t kSettledLabels = 11;
constexpr auto kSettleTime = std::chrono::seconds(1);
constexpr double kDefaultTimeoutSeconds = 60;
// The program's data thread makes sure the engine runs at this pace; a
// status run does the same, so an engine that ends meanwhile comes back.
constexpr auto kEngineCheck = std::chrono::milliseconds(100);

// Field texts are cut at character boundaries, but the engine may report
// paths that were never valid UTF-8; those are shown with U+FFFD so the
// JSON document stays well-formed.
std::string Clean(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  return WideToUtf8(Utf8ToWide(text));
}

template <std::size_t N>
std::string Field(const char (&field)[N]) {
  return Clean(FieldText(field));
}
std::string Field(const std::string& field) { return Clean(field); }

Json::Value ToJson(const SyncEventRecord& row) {
  Json::Value v(Json::objectValue);
  v["id"] = Field(row.id);
  v["action"] = Field(row.action);
  v["path"] = Field(row.path);
  v["time"] = Field(row.time);
  v["size"] = Json::UInt64(row.size);
  return v;
}

Json::Value ToJson(const PathTimeRecord& row) {
  Json::Value v(Json::objectValue);
  v["path"] = Field(row.path);
  v["time"] = Field(row.time);
  v["size"] = Json::UInt64(row.size);
  return v;
}

Json::Value ToJson(const FileItemRecord& row) {
  Json::Value v(Json::objectValue);
  v["name"] = Field(row.name);
  v["status"] = Field(row.status);
  v["time"] = Field(row.time);
  v["tag"] = Field(row.tag);
  v["percent"] = row.percent;
  v["size"] = Json::UInt64(row.size);
  return v;
}

Json::Value ToJson(const ErrorRecord& row) {
  Json::Value v(Json::objectValue);
  v["path"] = Field(row.path);
  v["error"] = Field(row.error);
  return v;
}

Json::Value ToJson(const DeviceRecord& row) {
  Json::Value v(Json::objectValue);
  v["address"] = Field(row.address);
  v["uploadText"] = Field(row.uploadText);
  v["downloadText"] = Field(row.downloadText);
  v["name"] = Field(row.name);
  v["folder"] = Field(row.folder);
  v["deviceId"] = Field(row.deviceId);
  v["time"] = Field(row.time);
  v["clientVersion"] = Field(row.clientVersion);
  v["completion"] = row.completion;
  v["lastDownloadRate"] = row.lastDownloadRate;
  v["lastUploadRate"] = row.lastUploadRate;
  v["globalBytes"] = Json::UInt64(row.globalBytes);
  v["needBytes"] = Json::UInt64(row.needBytes);
  v["needItems"] = Json::UInt64(row.needItems);
  v["needDeletes"] = Json::UInt64(row.needDeletes);
  v["previousInBytesTotal"] = Json::UInt64(row.previousInBytesTotal);
  v["previousOutBytesTotal"] = Json::UInt64(row.previousOutBytesTotal);
  v["inBytesTotal"] = Json::UInt64(row.inBytesTotal);
  v["outBytesTotal"] = Json::UInt64(row.outBytesTotal);
  v["paused"] = row.paused;
  v["connected"] = row.connected;
  v["completionRequested"] = row.completionRequested;
  return v;
}

// The size a row shows as the window shows it: examined on disk where the
// window examines it (sync events, and last synced files learned from the
// folder statistics), else as the engine reported it.
void SizeFromDisk(Json::Value& row, const std::filesystem::path& syncFolder, const std::string& path) {
  const DiskEntry entry = ExamineInSyncFolder(syncFolder, Utf8ToWide(path));
  row["size"] = Json::UInt64(entry.size);
  row["sizeText"] = entry.kind == DiskEntry::Kind::kFile     ? WideToUtf8(FormatSize(entry.size))
                    : entry.kind == DiskEntry::Kind::kFolder ? "folder"
                                                             : "-";
}

template <typename T>
Json::Value ListJson(const GuardedList<T>& list) {
  Json::Value array(Json::arrayValue);
  for (const T& row : list.Snapshot()) array.append(ToJson(row));
  return array;
}

// Everything printed, read once so the text and the JSON forms agree.
struct StatusReport {
  std::wstring key;
  std::wstring text;
  std::int32_t code = 0;
  std::int32_t percent = 0;
  bool engineAnswering = true;
  SystemSummary summary;
  Json::Value document;
};

StatusReport Read(Controller& controller) {
  const StatusReader& model = controller.Status();
  const std::string ownDevice = WideToUtf8(controller.Account().deviceId);
  StatusReport report;
  report.key = model.folder.StatusKey();
  const std::wstring language = controller.Settings().language;
  report.text = MainTextTable::Lookup(report.key, language).value_or(report.key);
  report.code = model.folder.statusCode.load();
  report.percent = model.folder.folderPercent.load();
  report.engineAnswering = model.folder.engineAnswering.load();
  report.summary = model.Summary();

  const SystemSummary& s = report.summary;
  Json::Value& d = report.document;
  d = Json::Value(Json::objectValue);
  d["statusKey"] = WideToUtf8(report.key);
  d["statusText"] = WideToUtf8(report.text);
  d["statusCode"] = report.code;
  d["percent"] = report.percent;
  d["engineAnswering"] = report.engineAnswering;
  d["files"] = WideToUtf8(s.fileCountText);
  d["folders"] = WideToUtf8(s.folderCountText);
  d["size"] = WideToUtf8(s.sizeText);
  d["download"] = WideToUtf8(s.downloadText);
  d["upload"] = WideToUtf8(s.uploadText);
  Json::Value system(Json::objectValue);
  system["deviceId"] = ownDevice;
  system["folderId"] = Clean(model.folder.FolderId());
  system["folderState"] = Clean(model.folder.FolderStateText());
  system["versionText"] = Field(s.versionText);
  system["cpuPercent"] = s.cpuPercent;
  system["memory"] = Json::UInt64(s.memory);
  system["memoryText"] = WideToUtf8(FormatSize(s.memory));
  system["uptimeSeconds"] = Json::Int64(s.uptime.totalSeconds);
  system["uptime"] = WideToUtf8(FormatUptime(s.uptime, language == L"en"));
  d["system"] = system;
  // The remote devices: the engine lists this computer too, the window does not.
  Json::Value devices(Json::arrayValue);
  for (const DeviceRecord& row : model.devices.Snapshot()) {
    if (FieldText(row.deviceId) != ownDevice) devices.append(ToJson(row));
  }
  d["devices"] = devices;
  const std::filesystem::path syncFolder = PathFromWide(controller.Settings().syncFolderPath);
  Json::Value syncEvents(Json::arrayValue);
  for (const SyncEventRecord& row : model.syncEvents.Snapshot()) {
    Json::Value& added = syncEvents.append(ToJson(row));
    SizeFromDisk(added, syncFolder, row.path);
  }
  d["syncEvents"] = syncEvents;
  d["inProgress"] = ListJson(model.inProgress);
  d["unsynced"] = ListJson(model.unsynced);
  d["conflicts"] = ListJson(model.conflicts);
  d["failed"] = ListJson(model.failed);
  Json::Value lastSynced(Json::arrayValue);
  for (const FileItemRecord& row : model.lastSynced.Snapshot()) {
    Json::Value& added = lastSynced.append(ToJson(row));
    if (FieldText(row.tag) == "lastfind") {
      SizeFromDisk(added, syncFolder, row.name);
    } else {
      added["sizeText"] = WideToUtf8(FormatSize(row.size));
    }
  }
  d["lastSynced"] = lastSynced;
  d["localChanged"] = ListJson(model.locallyChanged);
  return report;
}

void PrintRows(std::ostream& out, const char* title, const Json::Value& rows, std::initializer_list<const char*> columns) {
  out << title << " (" << rows.size() << ")\n";
  for (const Json::Value& row : rows) {
    out << " ";
    for (const char* column : columns) {
      const Json::Value& value = row[column];
      out << "  " << column << "=";
      if (value.isString()) {
        out << '"' << value.asString() << '"';
      } else {
        out << value.asString();  // numbers as jsoncpp renders them
      }
    }
    out << "\n";
  }
}

void PrintText(std::ostream& out, const StatusReport& report) {
  const Json::Value& d = report.document;
  const Json::Value& system = d["system"];
  out << "status: " << WideToUtf8(report.text) << " [" << WideToUtf8(report.key) << "]  code " << report.code
      << "  " << report.percent << "%" << (report.engineAnswering ? "" : "  (the engine does not answer)") << "\n";
  out << "folder: " << system["folderId"].asString() << "  state " << system["folderState"].asString() << "\n";
  out << "files: " << d["files"].asString() << "  folders: " << d["folders"].asString()
      << "  size: " << d["size"].asString() << "\n";
  out << "download: " << d["download"].asString() << "  upload: " << d["upload"].asString() << "\n";
  out << "this device: " << system["deviceId"].asString() << "\n"
      << "  version " << system["versionText"].asString() << "  cpu " << system["cpuPercent"].asInt() << "%"
      << "  memory " << system["memoryText"].asString() << "  uptime " << system["uptime"].asString() << "\n";
  PrintRows(out, "devices", d["devices"],
            {"deviceId", "name", "address", "connected", "paused", "completion", "downloadText", "uploadText",
             "clientVersion"});
  PrintRows(out, "sync events", d["syncEvents"], {"time", "action", "path", "sizeText"});
  PrintRows(out, "in progress", d["inProgress"], {"name", "status", "percent", "size"});
  PrintRows(out, "unsynced", d["unsynced"], {"name", "status", "percent", "size"});
  PrintRows(out, "conflicts", d["conflicts"], {"time", "path", "size"});
  PrintRows(out, "failed", d["failed"], {"path", "error"});
  PrintRows(out, "last synced", d["lastSynced"], {"time", "name", "sizeText", "tag"});
  PrintRows(out, "local changes", d["localChanged"], {"time", "path", "size"});
}

void Print(std::ostream& out, const StatusReport& report, bool json) {
  if (json) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    writer->write(report.document, &out);
    out << "\n";
  } else {
    PrintText(out, report);
  }
}

// Seconds from "--name S"; `fallback` when absent, nullopt when malformed.
std::optional<double> Seconds(const std::vector<std::string>& args, const std::string& name, double fallback) {
  if (!HasFlag(args, name)) return fallback;
  const std::string text = OptionValue(args, name);
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size() || !(value >= 0)) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Clock::duration ToDuration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The data thread's engine check for the length of a status run, on a
// thread of its own: a start that keeps failing (its messages go to
// standard error) does not hold up the run, and the run's end stops it.
class EngineCheck {
 public:
  explicit EngineCheck(Controller& controller)
      : thread_([&controller](std::stop_token stop) {
          while (!stop.stop_requested()) {
            controller.EnsureEngineRunning(stop);
            // In slices, so the end of the run is not kept waiting.
            for (auto slept = Clock::duration::zero(); slept < kEngineCheck && !stop.stop_requested();
                 slept += kEngineCheck / 4) {
              std::this_thread::sleep_for(kEngineCheck / 4);
            }
          }
        }) {}

 private:
  std::jthread thread_;
};

// With --changes, every change of the status key is printed as it happens
// on standard error, with the wall-clock time (seconds since the epoch) and
// the seconds since the run began, so a script can line it up with what it
// did to the engine.
class ChangeReport {
 public:
  ChangeReport(const SharedFolderState& folder, std::ostream& err, bool enabled, Clock::time_point start)
      : folder_(folder), err_(err), enabled_(enabled), start_(start) {}

  void Look() {
    if (!enabled_) return;
    const std::wstring key = folder_.StatusKey();
    const bool answering = folder_.engineAnswering.load();
    if (key == lastKey_ && answering == lastAnswering_) return;
    lastKey_ = key;
    lastAnswering_ = answering;
    const double wall =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double since = std::chrono::duration<double>(Clock::now() - start_).count();
    err_ << "orlin-cli status: at " << std::fixed << std::setprecision(3) << wall << " (" << std::setprecision(1)
         << since << " s) \"" << WideToUtf8(key) << "\"" << (answering ? "" : " (the engine does not answer)")
         << std::endl;
    err_.unsetf(std::ios::floatfield);
  }

 private:
  const SharedFolderState& folder_;
  std::ostream& err_;
  bool enabled_;
  Clock::time_point start_;
  std::wstring lastKey_;
  bool lastAnswering_ = true;
};

}  // namespace

bool StatusWordsValid(const std::vector<std::string>& args, std::ostream& err) {
  for (const char* option : {"--wait", "--timeout", "--for"}) {
    if (HasFlag(args, option) && OptionValue(args, option).empty()) {
      err << "orlin-cli status: " << option << " needs a value\n";
      return false;
    }
  }
  for (const char* option : {"--timeout", "--for"}) {
    if (!Seconds(args, option, 0)) {
      err << "orlin-cli status: " << option << " takes a number of seconds\n";
      return false;
    }
  }
  if (HasFlag(args, "--wait") && HasFlag(args, "--for")) {
    err << "orlin-cli status: --wait and --for do not go together\n";
    return false;
  }
  return true;
}

int Status(Context& context) {
  if (!StatusWordsValid(context.args, context.err)) return kExitFailed;
  if (context.controller.LoginNeeded()) {
    context.err << "orlin-cli status: not logged in\n";
    return kExitFailed;
  }
  const SharedFolderState& folder = context.controller.Status().folder;
  const bool json = HasFlag(context.args, "--json");
  const std::string waitKey = OptionValue(context.args, "--wait");
  const double timeout = *Seconds(context.args, "--timeout", kDefaultTimeoutSeconds);
  const double forSeconds = *Seconds(context.args, "--for", 0);

  if (!context.controller.StartSync()) {
    context.err << "orlin-cli status: the request loop did not start\n";
    return kExitFailed;
  }

  const Clock::time_point start = Clock::now();
  ChangeReport changes(folder, context.err, HasFlag(context.args, "--changes"), start);
  // Waits in ticks until `deadline` or until `done`, reporting changes.
  const auto waitUntil = [&](Clock::time_point deadline, const std::function<bool()>& done) {
    changes.Look();
    while (!done() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::min<Clock::duration>(kTick, deadline - Clock::now()));
      changes.Look();
    }
  };
  bool reached = true;
  {
    EngineCheck engineCheck(context.controller);
    if (!waitKey.empty()) {
      const std::wstring wanted = Utf8ToWide(waitKey);
      waitUntil(start + ToDuration(timeout), [&] { return folder.StatusKey() == wanted; });
      reached = folder.StatusKey() == wanted;
    } else if (HasFlag(context.args, "--for")) {
      waitUntil(start + ToDuration(forSeconds), [] { return false; });
    } else {
      waitUntil(start + ToDuration(timeout), [&] { return folder.StatusDerivations() >= kSettledLabels; });
      reached = folder.StatusDerivations() > 0;
      if (reached) waitUntil(Clock::now() + kSettleTime, [] { return false; });
    }
  }

  // Read before the stop: the loop's counters start again with each run.
  const std::uint64_t answers = context.controller.AnswersHandled();
  const double polled = std::chrono::duration<double>(Clock::now() - start).count();
  context.controller.StopSync();
  context.err << "orlin-cli status: " << answers << " answers in " << std::fixed << std::setprecision(1)
              << polled << " s\n";
  context.err.unsetf(std::ios::floatfield);
  const StatusReport report = Read(context.controller);
  Print(context.out, report, json);
  if (!reached) {
    if (!waitKey.empty()) {
      context.err << "orlin-cli status: the status did not become \"" << waitKey << "\" within " << timeout
                  << " s (it is \"" << WideToUtf8(report.key) << "\")\n";
    } else {
      context.err << "orlin-cli status: the engine reported no folder state within " << timeout << " s\n";
    }
  }
  // The run ended while no engine answered: the state shown is not the
  // folder's, whatever it was before.
  if (!report.engineAnswering) {
    context.err << "orlin-cli status: the engine does not answer\n";
  }
  return reached && report.engineAnswering ? kExitOk : kExitFailed;
}

}  // namespace orlin::cli
