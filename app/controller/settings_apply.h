#pragma once
// Applying a confirmed settings record: every value that differs from the
// controller's record becomes a desktop change, a state-file write, an edit
// of the engine's configuration, a request to the Tarn server or an engine
// command, in a fixed order:
//
//   1 autostart, 2 file-manager entry, 3 language, 4 taskbar style, 5 DPI,
//   6 default-location flag; then, only when an engine value differs (sync
//   folder, versions kept, limits, folder type, ignore text, pull order):
//   8 pause the engine and wait until the pause is handled, 9 move the sync
//   folder, 10 rate limits, 11 folder type, 12 pull order, 13 versions kept
//   (and the server's copy), 14 ignore text; the running engine gets the
//   values of 9 to 13 too, 15 refresh the engine, then resume it.
//
// It never stops half-way: a step that fails restores its own value in the
// record (memory and files agree) and the later steps still run.
//
// A sync folder move copies the old folder's content into the new one first
// (the copy window, through the port) and is refused before anything is
// copied when the new folder is the old one or lies inside it. A copy that
// fails or is cancelled keeps the old folder everywhere: in the record, in
// config.xml and in userconfig.xml.
//
// Threads: Run() blocks its caller, a worker thread of the window that
// asks; the port's calls happen on that thread.

#include <chrono>
#include <string>
#include <vector>

#include "engine/live_settings.h"
#include "engine/sync_settings.h"

namespace orlin {

// What the settings apply changes, one call per kind of change. The engine
// controller implements it over its files, the desktop, the engine and the
// server; tests record the calls.
class SettingsApplyPort {
 public:
  virtual ~SettingsApplyPort() = default;

  // The record as it stands after each step (the controller keeps it).
  virtual void Store(const SyncSettings& record) = 0;

  // Desktop and state files. The writes return whether the file was saved.
  virtual void SetAutostart(bool enabled) = 0;
  virtual void SetFileManagerEntry(bool shown, const std::wstring& syncFolder) = 0;
  virtual bool WriteLanguage(const std::wstring& language) = 0;
  virtual bool WriteTaskbarStyle(bool hideFromTaskbar) = 0;
  virtual bool WriteDpi(int dpi) = 0;
  virtual bool WriteUserDefault(bool isDefault) = 0;
  virtual bool WriteUserPath(const std::wstring& path) = 0;
  virtual bool WriteIgnoreText(const std::wstring& syncFolder, const std::wstring& text) = 0;

  // config.xml, each from the record's value.
  virtual bool WriteFolderPath(const SyncSettings& record) = 0;
  virtual bool WriteRateLimits(const SyncSettings& record) = 0;
  virtual bool WriteFolderType(const SyncSettings& record) = 0;
  virtual bool WritePullOrder(const SyncSettings& record) = 0;
  virtual bool WriteVersioning(const SyncSettings& record) = 0;

  // The engine. PauseForSettings pauses with the settings parameter and
  // waits until the pause was handled (bounded); false when it gave up.
  virtual bool PauseForSettings() = 0;
  virtual LivePush PushToEngine(const SyncSettings& record, const LiveSettingsFields& fields) = 0;
  virtual void Resume() = 0;
  // Restart, reset and rescan without the end-of-refresh message; returns
  // once the restarted engine answers (bounded).
  virtual void QuietRefresh() = 0;

  // Copies the content of `from` into `to` (the copy window); true when
  // every file arrived.
  virtual bool TakeOverFolder(const std::wstring& from, const std::wstring& to) = 0;
  // The sync folder moved: the main window shows the new path.
  virtual void FolderMoved(const std::wstring& path) = 0;

  // The kept-versions setting for the server's copy (it shows its outcome).
  virtual void SendVersioning(int versionsKept) = 0;
};

// How a settings apply copies the old sync folder's content into a new
// one: the main window shows the copy window; without a window the copy
// runs unseen.
class FolderTakeover {
 public:
  virtual ~FolderTakeover() = default;
  // Called on the settings apply worker; blocks until the copy ended. True
  // when every file arrived.
  virtual bool TakeOverFolder(const std::wstring& from, const std::wstring& to) = 0;
};

// The steps that found their value refused and restored it.
enum class ApplyStep { kFolderPath, kFolderMoveRefused, kRateLimits, kFolderType, kPullOrder, kVersioning, kIgnoreText };

struct SettingsApplyReport {
  bool engineChanged = false;  // an engine value differed: paused, edited, resumed
  bool pauseConfirmed = false;
  LivePush livePush = LivePush::kNothingToPush;
  std::vector<ApplyStep> restored;
};

// The engine values of two records differ (step 7).
bool EngineSettingsDiffer(const SyncSettings& current, const SyncSettings& next);

// Whether moving the sync folder from `from` to `to` may start: the new
// folder must be another folder, and not one inside the old folder (the copy
// would copy into itself).
bool FolderMoveAllowed(const std::wstring& from, const std::wstring& to);

class SettingsApply {
 public:
  explicit SettingsApply(SettingsApplyPort& port) : port_(port) {}

  // Applies `next` over `current` (the controller's record, updated in
  // place step by step).
  SettingsApplyReport Run(SyncSettings& current, const SyncSettings& next);

 private:
  SettingsApplyPort& port_;
};

}  // namespace orlin
