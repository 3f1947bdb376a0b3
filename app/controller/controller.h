#pragma once
// The core's one face. Every front-end (the main window, the tray menu, the
// dialogs, Ravel's hand-over, orlin-cli) drives the engine through this
// interface and reads the status through its read-only view; none of them
// reaches the engine, its configuration, the REST interface or the poller
// directly, so every rule lives once, behind here.
//
// EngineController implements it; window tests use a fake
// (tests/support/fake_controller.h).
//
// Threads: unless a method says otherwise it may be called from any thread.
// The blocking verbs (Login, LogOff, Refresh, Revert, Override, AddFolder,
// ApplySettings, StopEngines) block their caller until done and are meant for
// a worker thread of the window that asks: a window keeps handling messages
// and painting while the worker runs.

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>

#include "account/login.h"
#include "app/controller/settings_apply.h"
#include "engine/sync_settings.h"
#include "monitor/status_model.h"

namespace orlin {

// The lists a window shows, numbered as the main window's list kind.
enum class StatusList : std::int32_t {
  kSyncEvents = 0,
  kUnsynced = 1,
  kConflicts = 2,
  kLocallyChanged = 3,
  kFailed = 4,
  kLastSynced = 5,
  kThisDevice = 6,
  kRemoteDevices = 7,
};

// How a verb that waits for the engine ended.
enum class CommandOutcome {
  kNothingToDo,  // the folder is not known yet: nothing was sent
  kDone,         // the engine took it and the status shows the result
  kFailed,       // the engine refused or could not be reached (message shown)
  kGaveUp,       // taken, but the result did not show in time (or stopped)
};

struct LoginRequest {
  std::wstring server;  // as typed: with or without http:// or https://
  std::wstring userName;
  std::wstring password;
  std::wstring syncFolder;
  bool makeDefault = false;
};

// The signed-in account as the controller knows it.
struct AccountView {
  std::wstring server;  // without its scheme
  std::wstring userName;
  std::wstring deviceId;  // this computer's engine
};

// The status as the poller keeps it: the lists (each under its own lock,
// read by Snapshot()), the folder's state and the engine summary. Readers
// only read; the list-changed flags are the readers' own.
using StatusReader = StatusModel;

class Controller {
 public:
  virtual ~Controller() = default;

  // --- Lifecycle.
  // Runs the start-up sequence on the controller's own thread.
  virtual void Start() = 0;
  // Polls the ready flag every 10 ms; false when `timeout` passed first.
  virtual bool WaitReady(std::chrono::milliseconds timeout) = 0;
  virtual bool IsReady() const = 0;
  // True exactly while no account is configured. Needs IsReady().
  virtual bool LoginNeeded() const = 0;

  // --- Account. Blocking.
  // Registers this device and refreshes the engine; failures are shown
  // through the message presenter and change nothing.
  virtual LoginOutcome Login(const LoginRequest& request) = 0;
  // Stops polling and every engine, deletes the engine home and sends the
  // logged-off message. True when no engine is left and the home is gone.
  virtual bool LogOff() = 0;
  virtual AccountView Account() const = 0;

  // --- Sync commands.
  // The start command: starts polling (first batch), or resumes while
  // polling runs. False when polling could not start.
  virtual bool StartSync() = 0;
  // Queued on the request loop; the status shows the result.
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // Restart, reset and rescan of the engine, then polling from the start;
  // the refresh-done message follows. Blocking.
  virtual void Refresh() = 0;
  // Blocking; bounded; `stop` ends the wait early.
  virtual CommandOutcome Revert(std::stop_token stop = {}) = 0;
  virtual CommandOutcome Override(std::stop_token stop = {}) = 0;
  // The diagnostic add-folder; the new folder's id or "" when it failed.
  virtual std::string AddFolder() = 0;
  // Asks the engine for one list at once (unsynced files, locally changed
  // items or failed files); the other lists are kept current by polling.
  virtual void RequestList(StatusList list) = 0;
  // Whether a window shows the status (the main window is on screen, not in
  // the tray and not minimised). While none does, the engine is polled
  // slowly, except for what the hidden program still shows or owes (the
  // sync events, the folder's state and its messages); showing brings every
  // label and list up to date within about a second and the full pace back.
  virtual void SetViewVisible(bool visible) = 0;
  // The data thread's periodic step: makes sure the engine process runs.
  // Returns once it does, or once `stop` is requested (an engine that cannot
  // be started is retried until then).
  virtual void EnsureEngineRunning(std::stop_token stop = {}) = 0;
  // The exit path: stops polling, then every engine. Blocking; safe to repeat.
  virtual bool StopSync() = 0;
  virtual bool StopEngines() = 0;

  // --- Settings.
  virtual SyncSettings Settings() const = 0;
  // Re-reads the user-adjustable settings from their files.
  virtual SyncSettings ReloadSettings() = 0;
  // Stores the language ("en" or "zh_cn") in lang.xml; the main window is
  // told with the language message.
  virtual bool SetLanguage(const std::wstring& language) = 0;
  // Stores the DPI (clamped to 96..192); with `notify` the main window is told.
  virtual bool SetDpi(int dpi, bool notify) = 0;
  // Whether another account of this computer syncs `path` (empty: the
  // current sync folder).
  virtual bool PathInUse(const std::wstring& path) = 0;
  // Applies a confirmed settings record (app/controller/settings_apply.h):
  // the desktop, the state files, and, when an engine value changed, the
  // engine paused, edited, resumed and refreshed. Blocking; one at a time.
  virtual SettingsApplyReport ApplySettings(const SyncSettings& settings) = 0;

  // --- Status (read-only).
  // The lists, the folder's state (status key, code, percent) and the
  // engine summary as the poller last derived them.
  virtual const StatusReader& Status() const = 0;
  // Answers the poller has handled since polling last started.
  virtual std::uint64_t AnswersHandled() const = 0;
};

}  // namespace orlin
