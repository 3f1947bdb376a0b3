#include "app/controller/engine_controller.h"

#include <algorithm>
#include <system_error>

#include "account/versioning_setting.h"
#include "app/copy_worker.h"
#include "app/store/os_name.h"
#include "common/atomic_file.h"
#include "common/message_presenter.h"
#include "common/owner_window.h"
#include "common/text.h"
#include "monitor/format.h"
#include "platform/system_info.h"

namespace orlin {
namespace {

constexpr auto kReadyPoll = std::chrono::milliseconds(10);
constexpr auto kConfigPoll = std::chrono::milliseconds(50);
constexpr auto kDeviceIdPoll = std::chrono::milliseconds(200);

std::tm LocalTime(std::time_t t) {
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}

// Deletes `dir` and everything under it. Entries that resist (a file the
// engine still holds) are retried a few times before giving up, so a log-off
// racing a dying engine leaves nothing behind.
//
// A home that is left empty because its parent folder may not be changed
// counts as removed: the account (marker, configuration, keys) is gone, and
// the next start-up lets the engine fill the empty home anew.
bool RemoveTree(const std::filesystem::path& dir) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
    if (!std::filesystem::exists(dir, error)) return true;
    if (std::filesystem::is_empty(dir, error) && !error && CheckDirectoryWritable(dir.parent_path())) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

constexpr wchar_t kTitle[] = L"Orlin";
constexpr wchar_t kReadOnlyKey[] = L"Install_ReadOnly_Msg";
constexpr wchar_t kConfigDamagedKey[] = L"SyncConfig_Damaged_Msg";
// Read whenever lang.xml cannot tell the language.
constexpr wchar_t kDefaultLanguage[] = L"zh_cn";
// A damaged configuration is taken for damaged once it has stayed so this
// long: the engine replaces its file in one rename, so a file it is writing
// is never seen half-written for longer.
constexpr auto kDamagedConfigConfirmation = std::chrono::milliseconds(500);

// Answers every message with OK and shows nothing: for reads that are
// retried, whose failure is reported once at the end.
class SilentPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring&, bool) override { return kModalOk; }
  void ShowLoginFailure(const std::wstring&, bool) override {}
};

}  // namespace

EngineController::EngineController(InstallLayout layout, platform::ProcessTable& processes,
                                   MessagePresenter& presenter, Clock& clock, OwnerWindow* owner,
                                   EngineControllerOptions options)
    : layout_(std::move(layout)),
      presenter_(presenter),
      owner_(owner),
      options_(std::move(options)),
      files_(layout_, presenter, owner),
      engine_(layout_.installDir, processes, presenter, clock, options_.engine),
      http_(platform::kHttpUserAgent),
      log_([this](std::string_view line) { WriteLogLine(line); }, &clock),
      // The poller is built below; the commands reach it only when called.
      commands_(http_, presenter, poller_, options_.restBase),
      clock_(clock),
      sink_(loop_, "", options_.restBase),
      poller_(model_, log_, sink_, clock,
              StatusPollerSetup{options_.pollerDebugDirectory, owner, options_.statusView, &sink_,
                                options_.hiddenPace, options_.engineWatch}),
      desktop_(options_.desktop) {
  commands_.SetOwner(owner);
  // Answers reach the poller on the request loop thread.
  sink_.SetAnswerCallback([this](const PollAnswer& answer) { poller_.Dispatch(answer); });
}

EngineController::~EngineController() { Shutdown(); }

bool EngineController::StartSync() {
  if (poller_.IsRunning()) {
    commands_.Resume();
    return true;
  }
  sink_.SetApiKey(commands_.ApiKey());
  return poller_.Start(loop_);
}

bool EngineController::StopSync() { return poller_.Stop(); }

bool EngineController::StopEngines() { return StopEnginesWithin(options_.logOffEngineStop); }

void EngineController::SetViewVisible(bool visible) { poller_.SetViewVisible(visible); }

void EngineController::Pause() { commands_.Pause(0); }

void EngineController::Resume() { commands_.Resume(); }

void EngineController::Refresh() { commands_.Refresh(0); }

namespace {
CommandOutcome ToCommandOutcome(EngineCommands::Outcome outcome) {
  switch (outcome) {
    case EngineCommands::Outcome::kNothingToDo:
      return CommandOutcome::kNothingToDo;
    case EngineCommands::Outcome::kDone:
      return CommandOutcome::kDone;
    case EngineCommands::Outcome::kFailed:
      return CommandOutcome::kFailed;
    case EngineCommands::Outcome::kGaveUp:
      return CommandOutcome::kGaveUp;
  }
  return CommandOutcome::kFailed;
}
}  // namespace

CommandOutcome EngineController::Revert(std::stop_token stop) { return ToCommandOutcome(commands_.Revert(stop)); }

CommandOutcome EngineController::Override(std::stop_token stop) {
  return ToCommandOutcome(commands_.Override(stop));
}

std::string EngineController::AddFolder() { return commands_.AddTestFolder(WideToUtf8(WideFromPath(layout_.installDir))); }

void EngineController::RequestList(StatusList list) {
  switch (list) {
    case StatusList::kUnsynced:
      poller_.RequestNow(StatusPoller::ManualList::kUnsynced);
      break;
    case StatusList::kLocallyChanged:
      poller_.RequestNow(StatusPoller::ManualList::kLocallyChanged);
      break;
    case StatusList::kFailed:
      poller_.RequestNow(StatusPoller::ManualList::kFailed);
      break;
    default:
      break;  // kept current by polling
  }
}

void EngineController::EnsureEngineRunning(std::stop_token stop) {
  // Not while the start-up or a log-off owns the engine: the start-up starts
  // it itself and a log-off must not see it come back.
  if (!IsReady() || loggedOff_.load() || engineUnusable_.load()) return;
  engine_.EnsureRunning(stop);
}

std::uint64_t EngineController::AnswersHandled() const { return loop_.GetCounters().completed; }

std::string EngineController::LogFileName(const std::tm& local) {
  return std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
         std::to_string(local.tm_mday) + "-" + std::to_string(local.tm_hour) + "-" + std::to_string(local.tm_min) +
         "-" + std::to_string(local.tm_sec) + ".txt";
}

void EngineController::OpenRunLog() {
  const auto dir = layout_.installDir / "log";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  std::lock_guard lock(logFileMutex_);
  logFilePath_ = dir / LogFileName(LocalTime(clock_.WallNow()));
  logFile_.open(logFilePath_, std::ios::app | std::ios::binary);
  if (logFile_.is_open()) {
    for (const auto& line : runLogWaiting_) logFile_ << line;
    runLogWaiting_.clear();
    logFile_.flush();
  }
}

void EngineController::WriteRunLog(const std::string& text) {
  const std::string line = LocalTimeText(clock_.WallNow()) + "   " + text + "\n";
  std::lock_guard lock(logFileMutex_);
  if (logFile_.is_open()) {
    logFile_ << line;
    logFile_.flush();
  } else if (runLogWaiting_.size() < 100) {
    runLogWaiting_.push_back(line);
  }
}

void EngineController::LogEvent(const std::wstring& text) {
  WriteLogLine(LocalTimeText(clock_.WallNow()) + "   " + WideToUtf8(text) + "\n");
}

void EngineController::WriteLogLine(std::string_view line) {
  std::lock_guard lock(logFileMutex_);
  if (logFile_.is_open()) {
    logFile_ << line;
    logFile_.flush();
  }
}

void EngineController::Start() {
  std::lock_guard lifecycle(lifecycleMutex_);
  if (shutDown_.load() || sequenceRunning_.load()) return;
  if (startUp_.joinable()) startUp_.join();  // the previous run has ended
  ready_.store(0);
  sequenceRunning_.store(true);
  startUp_ = std::jthread([this](std::stop_token stop) {
    StartUpSequence(stop);
    sequenceRunning_.store(false);
  });
}

void EngineController::StopStartUp() {
  if (!startUp_.joinable()) return;
  startUp_.request_stop();
  startUp_.join();
}

bool EngineController::WaitReady(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!IsReady()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kReadyPoll);
  }
  return true;
}

void EngineController::StartUpSequence(std::stop_token stop) {
  // 1. No engine of an earlier run stays: it may hold another home.
  if (!engine_.StopAll(stop)) return;

  // 2. The run log, and the poller's counters from zero.
  OpenRunLog();
  model_.folder.SetFolderId("");
  model_.poll = PollState{};
  engineUnusable_.store(false);
  // A write killed half-way leaves its temporary file (owner-only, possibly
  // holding the API key or credentials) beside the state file.
  for (const auto& target : {layout_.UserConfig(), layout_.LangFile(), layout_.SettingFile(), layout_.EngineConfig(),
                             layout_.Marker(), layout_.AccountArchive(), layout_.ServerCertificate()}) {
    RemoveStaleTemporaryFiles(target);
  }
  // Nothing Orlin keeps can be saved in a folder it may not write to; the
  // user hears it once, now, and not as a file that "does not exist".
  std::error_code homeError;
  const bool homeExists = std::filesystem::exists(layout_.EngineHome(), homeError);
  const bool installWritable = !CheckDirectoryWritable(layout_.installDir);
  const bool homeWritable = homeExists ? !CheckDirectoryWritable(layout_.EngineHome()) : installWritable;
  if (!installWritable || !homeWritable) presenter_.ShowMessage(kTitle, kReadOnlyKey, false);

  // 3.-4. The account and where its folder lies.
  const AccountArchive account = files_.ReadAccountArchive();
  std::optional<UserEntry> entry;
  if (!account.userName.empty()) entry = files_.ReadUserEntry(account.userName);

  SyncSettings settings;
  {
    std::lock_guard lock(mutex_);
    userName_ = account.userName;
    server_ = account.server;
    settings = settings_;
  }
  if (entry) {
    settings.syncFolderPath = entry->path;
    settings.defaultLocation = entry->isDefault;
  }

  // 5. The engine writes its configuration on its first run with this home.
  // It cannot where the home may not be written; that was said above, and
  // waiting would only keep the user from acting (a log-off, an exit).
  std::error_code error;
  const bool configExists = std::filesystem::exists(layout_.EngineConfig(), error);
  if (!configExists && !homeWritable) engineUnusable_.store(true);
  while (!engineUnusable_.load() && !std::filesystem::exists(layout_.EngineConfig(), error)) {
    if (stop.stop_requested()) return;
    if (!engine_.EnsureRunning(stop)) return;
    std::this_thread::sleep_for(kConfigPoll);
  }

  // 6. The key of the REST interface. The engine may still be writing the
  // file it has just created: a key that is not there yet is read again.
  // A file that stays damaged (cut short, junk) stops the engine from
  // starting at all: the user is told so at once, and the start-up finishes
  // without it so that a log-off can clear the way for a new login. The file
  // itself is left as it is.
  EngineConfigFile config(layout_.EngineConfig(), presenter_);
  std::string apiKey;
  const auto readingSince = std::chrono::steady_clock::now();
  for (int attempt = 0; !engineUnusable_.load() && attempt < 100 && apiKey.empty() && !stop.stop_requested();
       ++attempt) {
    SilentPresenter quiet;
    EngineConfigFile probe(layout_.EngineConfig(), quiet);
    if (probe.ReadApiKey(apiKey)) continue;
    if (InspectConfigFile(layout_.EngineConfig()) == ConfigFileState::kDamaged &&
        std::chrono::steady_clock::now() - readingSince >= kDamagedConfigConfirmation) {
      presenter_.ShowMessage(kTitle, kConfigDamagedKey, false);
      engineUnusable_.store(true);
      break;
    }
    std::this_thread::sleep_for(kConfigPoll);
  }
  if (apiKey.empty() && !engineUnusable_.load()) config.ReadApiKey(apiKey);  // shows the failure once
  commands_.SetApiKey(apiKey);
  sink_.SetApiKey(apiKey);

  // 7. This device's ID, once the engine answers.
  // An engine that runs but never answers us (another user's engine holds
  // the port, so ours cannot listen) is reported, paced, rather than waited
  // for in silence; the start-up goes on trying, so it recovers once the
  // port is free.
  std::wstring deviceId;
  const auto askedSince = clock_.SteadyNow();
  while (!engineUnusable_.load() && deviceId.size() <= 62) {
    if (stop.stop_requested()) return;
    if (auto id = commands_.QueryDeviceId()) deviceId = *id;
    if (deviceId.size() > 62) break;
    if (!engine_.EnsureRunning(stop)) return;
    if (clock_.SteadyNow() - askedSince >= options_.engineAnswerGrace) engine_.ReportNotAnswering();
    clock_.SleepFor(kDeviceIdPoll, stop);
  }
  settings.deviceId = deviceId;

  // 8. The settings kept in the engine's configuration (a damaged one was
  // reported once already).
  if (!engineUnusable_.load()) {
    const bool loginNeeded = LoginNeeded();
    config.ReadRateLimits(settings);
    config.ReadVersioning(settings);
    config.ReadFolderPath(settings);
    config.ReadFolderType(settings);
    config.ReadPullOrder(settings, loginNeeded);
  }

  // 9. Our own files. An unreadable lang.xml means Chinese.
  settings.language = files_.ReadLanguage().value_or(kDefaultLanguage);
  if (!settings.syncFolderPath.empty()) {
    RemoveStaleTemporaryFiles(PathFromWide(settings.syncFolderPath) / ".stignore");
    if (auto ignore = files_.ReadIgnoreText(PathFromWide(settings.syncFolderPath))) {
      settings.ignoreText = *ignore;
    }
  }
  settings.dpi = files_.ReadDpi(settings.dpi);

  {
    std::lock_guard lock(mutex_);
    settings_ = settings;
    deviceId_ = deviceId;
  }
  // The folder handlers tell receive-only and send-only folders apart by it.
  model_.folder.folderType.store(settings.folderType);
  // 10.
  ready_.store(1);
}

bool EngineController::LoginNeeded() const { return !files_.MarkerExists(); }

SyncSettings EngineController::Settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

AccountView EngineController::Account() const {
  std::lock_guard lock(mutex_);
  return AccountView{server_, userName_, deviceId_};
}

std::wstring EngineController::Password() const {
  std::lock_guard lock(mutex_);
  return password_;
}

SyncSettings EngineController::ReloadSettings() {
  SyncSettings settings = Settings();
  EngineConfigFile config(layout_.EngineConfig(), presenter_);
  config.ReadRateLimits(settings);
  config.ReadVersioning(settings);
  config.ReadFolderPath(settings);
  config.ReadFolderType(settings);
  config.ReadPullOrder(settings, LoginNeeded());
  settings.language = files_.ReadLanguage().value_or(kDefaultLanguage);
  if (!settings.syncFolderPath.empty()) {
    if (auto ignore = files_.ReadIgnoreText(PathFromWide(settings.syncFolderPath))) settings.ignoreText = *ignore;
  }
  settings.dpi = files_.ReadDpi(settings.dpi);
  settings.hideFromTaskbar = files_.ReadTaskbarStyle(settings.hideFromTaskbar);
  // What the desktop really does, not what was last asked of it.
  settings.autostart = desktop_.AutostartEnabled();
  settings.showInMyComputer = desktop_.NamespaceEntryPresent();
  {
    std::lock_guard lock(mutex_);
    settings_ = settings;
  }
  model_.folder.folderType.store(settings.folderType);
  return settings;
}

bool EngineController::SetLanguage(const std::wstring& language) {
  const std::wstring code = language == L"en" ? L"en" : L"zh_cn";
  {
    std::lock_guard lock(mutex_);
    settings_.language = code;
  }
  return files_.WriteLanguage(code);
}

bool EngineController::SetDpi(int dpi, bool notify) {
  const int clamped = std::clamp(dpi, StateFiles::kMinDpi, StateFiles::kMaxDpi);
  {
    std::lock_guard lock(mutex_);
    settings_.dpi = clamped;
  }
  return files_.WriteDpi(clamped, notify);
}

bool EngineController::PathInUse(const std::wstring& path) {
  std::wstring folder;
  std::wstring user;
  {
    std::lock_guard lock(mutex_);
    folder = path.empty() ? settings_.syncFolderPath : path;
    user = userName_;
  }
  return files_.IsPathTakenByAnotherUser(folder, user);
}

// ------------------------------------------------------------ settings apply

// The settings apply's calls, carried out by this controller's parts. Lives
// for one apply, on the apply worker's thread.
class EngineController::ApplyPort final : public SettingsApplyPort {
 public:
  explicit ApplyPort(EngineController& c) : c_(c), config_(c.layout_.EngineConfig(), c.presenter_) {
    std::lock_guard lock(c.mutex_);
    userName_ = c.userName_;
  }

  void Store(const SyncSettings& record) override {
    {
      std::lock_guard lock(c_.mutex_);
      // The device ID is the engine's, never the window's copy of it.
      const std::wstring deviceId = c_.settings_.deviceId;
      c_.settings_ = record;
      c_.settings_.deviceId = deviceId;
    }
    c_.model_.folder.folderType.store(record.folderType);
  }

  void SetAutostart(bool enabled) override { c_.desktop_.SetAutostart(enabled); }
  void SetFileManagerEntry(bool shown, const std::wstring& syncFolder) override {
    if (!shown) {
      // Removing an entry that is not there only reports failures.
      if (c_.desktop_.NamespaceEntryPresent()) c_.desktop_.RemoveNamespaceEntry();
      return;
    }
    const auto result = c_.desktop_.CreateNamespaceEntry(PathFromWide(syncFolder));
    if (!result.ok) c_.LogEvent(L"settings: the file-manager entry stopped at " + result.failedKey);
  }
  bool WriteLanguage(const std::wstring& language) override { return c_.files_.WriteLanguage(language); }
  bool WriteTaskbarStyle(bool hide) override { return c_.files_.WriteTaskbarStyle(hide); }
  bool WriteDpi(int dpi) override {
    return c_.files_.WriteDpi(std::clamp(dpi, StateFiles::kMinDpi, StateFiles::kMaxDpi), true);
  }
  bool WriteUserDefault(bool isDefault) override { return c_.files_.WriteUserDefault(userName_, isDefault); }
  bool WriteUserPath(const std::wstring& path) override { return c_.files_.WriteUserPath(userName_, path); }
  bool WriteIgnoreText(const std::wstring& folder, const std::wstring& text) override {
    return !folder.empty() && c_.files_.WriteIgnoreText(PathFromWide(folder), text);
  }

  bool WriteFolderPath(const SyncSettings& r) override { return config_.WriteFolderPath(r); }
  bool WriteRateLimits(const SyncSettings& r) override { return config_.WriteRateLimits(r); }
  bool WriteFolderType(const SyncSettings& r) override { return config_.WriteFolderType(r); }
  bool WritePullOrder(const SyncSettings& r) override { return config_.WritePullOrder(r); }
  bool WriteVersioning(const SyncSettings& r) override { return config_.WriteVersioning(r); }

  bool PauseForSettings() override {
    c_.commands_.Pause(EngineCommands::kSettingsPause);
    // Without polling nothing handles the pause: the engine is edited as
    // it is and told the values directly (PushToEngine).
    const auto deadline = std::chrono::steady_clock::now() + c_.options_.settingsPauseWait;
    while (c_.model_.folder.pausing.load() == 1) {
      if (!c_.poller_.IsRunning() || std::chrono::steady_clock::now() >= deadline) {
        c_.model_.folder.pausing.store(0);
        c_.LogEvent(L"settings: the pause was not handled in time");
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
  }

  LivePush PushToEngine(const SyncSettings& record, const LiveSettingsFields& fields) override {
    std::string folderId = c_.model_.folder.FolderId();
    if (folderId.empty()) folderId = ReadFolderIdentifier(c_.layout_.EngineConfig());
    EngineLiveConfigTransport transport(c_.commands_.ApiKey(), c_.options_.restBase);
    LivePushOptions options = c_.options_.livePush;
    // The pause is confirmed already, or was never going to be handled.
    options.pausedWait = std::min(options.pausedWait, c_.options_.settingsPauseWait);
    return PushSettingsToEngine(transport, folderId, record, fields, options);
  }
  void Resume() override { c_.commands_.Resume(); }
  void QuietRefresh() override {
    const std::string key = c_.commands_.ApiKey();
    const auto before = QueryEngineStartTime(key, c_.options_.restBase);
    c_.commands_.Refresh(EngineCommands::kQuietRefresh);
    // The resume must reach the restarted engine, not the one going away.
    if (before && !WaitForEngineRestarted(key, before, c_.options_.settingsPauseWait * 2, c_.options_.restBase)) {
      c_.LogEvent(L"settings: the engine did not answer after its restart");
    }
  }

  bool TakeOverFolder(const std::wstring& from, const std::wstring& to) override {
    if (c_.options_.folderTakeover) return c_.options_.folderTakeover->TakeOverFolder(from, to);
    CopyWorker worker(PathFromWide(from), PathFromWide(to), nullptr);
    return worker.Run().end == CopyEnd::kAllCopied;
  }
  void FolderMoved(const std::wstring& path) override { c_.LogEvent(L"settings: the sync folder is now " + path); }

  void SendVersioning(int versionsKept) override {
    TarnTransport& transport = c_.options_.transport != nullptr ? *c_.options_.transport : c_.ownTransport_;
    VersioningSetting versioning(c_.files_, transport, c_.presenter_, [this](const std::wstring& line) {
      c_.LogEvent(line);
    });
    versioning.Send(versionsKept);
  }

 private:
  EngineController& c_;
  EngineConfigFile config_;
  std::wstring userName_;
};

SettingsApplyReport EngineController::ApplySettings(const SyncSettings& next) {
  std::lock_guard apply(applyMutex_);
  SyncSettings current = Settings();
  ApplyPort port(*this);
  SettingsApply settingsApply(port);
  SettingsApplyReport report = settingsApply.Run(current, next);
  if (report.engineChanged) {
    LogEvent(std::wstring(L"settings: engine values applied") + (report.pauseConfirmed ? L"" : L" without a confirmed pause") +
             (report.livePush == LivePush::kPushed ? L", the running engine took them" : L"") +
             (report.restored.empty() ? L"" : L", some values were refused and kept as they were"));
  }
  return report;
}

LoginOutcome EngineController::Login(const LoginRequest& request) {
  return Login(request, options_.transport != nullptr ? *options_.transport : ownTransport_);
}

LoginOutcome EngineController::Login(const LoginRequest& request, TarnTransport& transport) {
  LoginInput input;
  input.typedServer = request.server;
  input.userName = request.userName;
  input.password = request.password;
  input.deviceId = Account().deviceId;
  input.osName = OperatingSystemName();
  input.computerName = platform::ComputerName();
  input.settings = Settings();
  input.settings.syncFolderPath = request.syncFolder;
  input.settings.defaultLocation = request.makeDefault;

  // The controller holds what was typed, whether or not the server takes it:
  // the login window offers it again after a refusal.
  {
    std::lock_guard lock(mutex_);
    userName_ = request.userName;
    password_ = request.password;
    server_ = StoredServerAddress(request.server);
    settings_ = input.settings;
  }

  EngineConfigFile config(layout_.EngineConfig(), presenter_);
  // The user sees a short, readable text of a failure; the run log keeps the
  // server's whole answer.
  AccountLogin login(files_, config, transport, presenter_, [this](const std::wstring& line) { LogEvent(line); });
  LoginOutcome outcome = login.Run(input);
  if (outcome.result != 1) return outcome;

  if (outcome.userEntry) {
    std::lock_guard lock(mutex_);
    settings_.syncFolderPath = outcome.userEntry->path;
    settings_.defaultLocation = outcome.userEntry->isDefault;
  }
  loggedOff_.store(false);
  // The engine reads its configuration only when it starts.
  commands_.Refresh(0);
  return outcome;
}

bool EngineController::StopEnginesWithin(std::chrono::milliseconds limit) {
  // An engine this user may not end (one of another session) must not keep
  // the log-off waiting for ever; the deletion then reports the failure.
  return engine_.StopAll({}, limit);
}

bool EngineController::LogOff() {
  bool removed = false;
  {
    std::lock_guard lifecycle(lifecycleMutex_);
    // A start-up sequence still waiting for the engine would start it again.
    StopStartUp();
    poller_.Stop();
    loop_.Stop();
    const bool enginesEnded = StopEnginesWithin(options_.logOffEngineStop);
    // An engine that was still starting may have re-created files meanwhile:
    // stop again until the home stays gone.
    for (int attempt = 0; attempt < 5 && !removed; ++attempt) {
      removed = RemoveTree(layout_.EngineHome());
      if (enginesEnded) StopEnginesWithin(options_.logOffEngineStop);
      std::error_code error;
      removed = removed && !std::filesystem::exists(layout_.EngineHome(), error);
    }
    if (engine_.IsRunning()) removed = false;  // the log-off is not complete
    ready_.store(0);
    loggedOff_.store(true);
    engineUnusable_.store(false);
  }
  // The account could not be removed because the folder may not be changed:
  // say why, instead of leaving the user with an account that stays.
  if (!removed && CheckDirectoryWritable(std::filesystem::exists(layout_.EngineHome()) ? layout_.EngineHome()
                                                                                        : layout_.installDir)) {
    presenter_.ShowMessage(kTitle, kReadOnlyKey, false);
  }
  // Sent without the lifecycle lock: the window answers it by starting the
  // next start-up sequence.
  if (owner_ != nullptr) owner_->Send(kMsgLoggedOff, 0, 0);
  return removed;
}

void EngineController::Shutdown() {
  std::lock_guard lifecycle(lifecycleMutex_);
  if (shutDown_.exchange(true)) return;
  StopStartUp();
  poller_.Stop();
  loop_.Stop();
  if (options_.stopEngineOnShutdown) StopEnginesWithin(options_.logOffEngineStop);
  std::lock_guard lock(logFileMutex_);
  if (logFile_.is_open()) logFile_.close();
}

}  // namespace orlin
