#pragma once
// The engine controller: owns the engine process, the engine's settings and
// identifiers, the account, the engine commands, the request loop and the
// status model of one main window (or of one orlin-cli run).
//
// Lifecycle: construct, Start() runs the start-up sequence on a thread of
// its own, WaitReady() tells when it has finished. Then the owner decides by
// LoginNeeded() between the login and the main view. LogOff() stops that
// thread first (it would otherwise start the engine again and re-create the
// engine home under the deletion); after it, Start() runs the sequence anew
// for the next login. Shutdown() (also run by the destructor) stops the
// thread and the request loop, and, unless the owner asked to keep it, every
// engine process.
//
// Threads: the start-up thread writes the settings, the key and the device
// ID before it sets the ready flag; readers look at them only once
// IsReady(). Login and LogOff run on the caller's thread (a worker of the
// window that asks).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>
#include <thread>

#include "account/login.h"
#include "account/tarn_transport.h"
#include "app/controller/controller.h"
#include "app/controller/settings_apply.h"
#include "app/desktop_integration.h"
#include "app/store/state_files.h"
#include "common/install_layout.h"
#include "engine/config_file.h"
#include "engine/engine_process.h"
#include "engine/request_loop.h"
#include "engine/rest_commands.h"
#include "engine/sync_settings.h"
#include "monitor/diagnostic_log.h"
#include "monitor/loop_request_sink.h"
#include "monitor/poller.h"
#include "monitor/status_model.h"
#include "platform/http_client.h"

namespace orlin {

class MessagePresenter;
class OwnerWindow;
class TarnTransport;

struct EngineControllerOptions {
  // The program stops its engine when it ends; orlin-cli leaves it running
  // for the next command (and for the user's files).
  bool stopEngineOnShutdown = true;
  // Supervision pacing (tests shorten it).
  EngineProcessOptions engine;
  // How long a log-off (or the shutdown) tries to end the engines before it
  // gives up.
  std::chrono::milliseconds logOffEngineStop{10000};
  // Where the engine's REST interface answers (tests point it at a fake).
  std::string restBase = std::string(EngineCommands::kRestBase);
  // Where the poller keeps the last answer of each endpoint; none are
  // written while unset.
  std::optional<std::filesystem::path> pollerDebugDirectory;
  // The main window's direct status calls; none while unset.
  StatusView* statusView = nullptr;
  // How long the start-up waits for the engine's first answer before it tells
  // the user that the engine does not answer (a first start generates keys).
  std::chrono::milliseconds engineAnswerGrace{30000};
  // How logins reach the Tarn server; the HTTPS transport while unset.
  TarnTransport* transport = nullptr;
  // Where a settings apply copies the old sync folder's content into a new
  // one (the main window's copy window); unseen while unset.
  FolderTakeover* folderTakeover = nullptr;
  // The desktop's autostart and file-manager entries (tests use scratch
  // places).
  DesktopIntegrationConfig desktop;
  // How long a settings apply waits for its pause to be handled by the
  // poller, and for the engine to show the folder paused.
  std::chrono::milliseconds settingsPauseWait{30000};
  LivePushOptions livePush;
  // How the status is polled while no window shows it.
  HiddenPace hiddenPace;
  // How the poller notices an engine that does not answer.
  EngineWatch engineWatch;
};

class EngineController final : public Controller {
 public:
  // Every reference must outlive the controller. `owner` may be null (no
  // main window): nothing is posted or sent then.
  EngineController(InstallLayout layout, platform::ProcessTable& processes, MessagePresenter& presenter,
                   Clock& clock, OwnerWindow* owner = nullptr, EngineControllerOptions options = {});
  ~EngineController();
  EngineController(const EngineController&) = delete;
  EngineController& operator=(const EngineController&) = delete;

  // --- Controller.
  // Runs the start-up sequence on a new thread. Does nothing while a
  // sequence still runs or after Shutdown().
  void Start() override;
  bool WaitReady(std::chrono::milliseconds timeout) override;
  bool IsReady() const override { return ready_.load() == 1; }
  // A login is needed exactly while the login marker does not exist.
  bool LoginNeeded() const override;

  // Registers this device with the server and refreshes the engine. Failures
  // are shown through the presenter and change nothing. Needs IsReady().
  LoginOutcome Login(const LoginRequest& request) override;
  // The same through another transport (tests play the server).
  LoginOutcome Login(const LoginRequest& request, TarnTransport& transport);
  // Undoes a login: stops the start-up sequence, the request loop and every
  // engine, and deletes the engine home; sends the log-off message to the
  // owner. Safe to repeat and to call from two threads at once (the second
  // waits for the first). Returns whether no engine is left and the engine
  // home is gone.
  bool LogOff() override;
  AccountView Account() const override;

  // The start command: starts the request loop with the status poller's
  // first batch, or, while the loop runs, resumes the engine. False when the
  // loop could not be started. Needs IsReady().
  bool StartSync() override;
  void Pause() override;
  void Resume() override;
  void Refresh() override;
  CommandOutcome Revert(std::stop_token stop = {}) override;
  CommandOutcome Override(std::stop_token stop = {}) override;
  std::string AddFolder() override;
  void RequestList(StatusList list) override;
  void SetViewVisible(bool visible) override;
  void EnsureEngineRunning(std::stop_token stop = {}) override;
  // Stops the poller and its loop (the exit path). Safe to repeat.
  bool StopSync() override;
  bool StopEngines() override;

  // Settings and identifiers as the start-up sequence read them.
  SyncSettings Settings() const override;
  SyncSettings ReloadSettings() override;
  bool SetLanguage(const std::wstring& language) override;
  bool SetDpi(int dpi, bool notify) override;
  bool PathInUse(const std::wstring& path) override;
  SettingsApplyReport ApplySettings(const SyncSettings& settings) override;

  const StatusReader& Status() const override { return model_; }

  // Stops the start-up thread and the request loop and, as the options say,
  // the engine. Safe to repeat.
  void Shutdown();

  // For the controller's own tests and diagnostics.
  std::string ApiKey() const { return commands_.ApiKey(); }
  std::wstring Password() const;
  bool LoggedOff() const { return loggedOff_.load(); }
  const InstallLayout& layout() const { return layout_; }
  const std::filesystem::path& logFilePath() const { return logFilePath_; }
  DiagnosticLog& log() { return log_; }
  // A line of the run log from another part of the program (the windows'
  // missing skin files and images), with the local time in front. Lines
  // written before the start-up opened the run log wait for it (a hundred
  // at most). Any thread.
  void WriteRunLog(const std::string& text);
  std::uint64_t AnswersHandled() const override;

  // The run log's file name for a local time: "<y>-<m>-<d>-<h>-<min>-<s>.txt",
  // numbers without leading zeros.
  static std::string LogFileName(const std::tm& local);


 private:
  void StartUpSequence(std::stop_token stop);
  // Ends a running start-up sequence and waits for its thread.
  void StopStartUp();
  // Stops every engine, giving up after `limit`; whether none is left.
  bool StopEnginesWithin(std::chrono::milliseconds limit);
  void OpenRunLog();
  void WriteLogLine(std::string_view line);
  // A line of the run log with the local time in front.
  void LogEvent(const std::wstring& text);

  // The settings apply's collaborators over this controller's parts.
  class ApplyPort;
  friend class ApplyPort;

  InstallLayout layout_;
  MessagePresenter& presenter_;
  OwnerWindow* owner_;
  EngineControllerOptions options_;

  StateFiles files_;
  EngineProcess engine_;
  platform::CHttpClient http_;
  StatusModel model_;
  std::mutex logFileMutex_;
  std::ofstream logFile_;
  std::vector<std::string> runLogWaiting_;  // under logFileMutex_
  std::filesystem::path logFilePath_;
  DiagnosticLog log_;
  EngineCommands commands_;
  RequestLoop loop_;
  Clock& clock_;
  LoopRequestSink sink_;
  StatusPoller poller_;

  mutable std::mutex mutex_;  // guards the values below
  SyncSettings settings_;
  std::wstring deviceId_;
  std::wstring userName_;
  std::wstring password_;
  std::wstring server_;

  std::atomic<int> ready_{0};
  std::atomic<bool> loggedOff_{false};
  std::atomic<bool> shutDown_{false};
  std::atomic<bool> sequenceRunning_{false};
  // Set by the start-up when the engine cannot run at all (its configuration
  // is damaged, or its home cannot be written): the user has been told, and
  // nothing starts the engine again until the next start-up.
  std::atomic<bool> engineUnusable_{false};
  HttpTarnTransport ownTransport_{std::wstring(platform::kHttpUserAgent)};
  DesktopIntegration desktop_;
  std::mutex applyMutex_;  // one settings apply at a time
  std::mutex lifecycleMutex_;  // serialises Start, LogOff and Shutdown
  std::jthread startUp_;
};

}  // namespace orlin
