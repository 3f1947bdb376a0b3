#pragma once
// What the main window asks of the parts it hosts: the status lists with
// their tab buttons, and the tray icon with its menus. The main window owns
// one of each, made by factories the program injects (tests inject fakes),
// and routes its messages and notifications to them; the parts call back
// through MainWindowCommands for everything the window itself carries out.
//
// Threads: every method runs on the main window's UI thread unless it says
// otherwise. A part may keep the pointers it is given for as long as it
// lives; the window outlives its parts.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/controller/controller.h"
#include "ui/dui/paint_manager.h"
#include "ui/dui/ui_types.h"
#include "ui/main/main_text_table.h"

namespace orlin {

// The tabs, the nine status lists and their refreshers.
class MainWindowLists {
 public:
  virtual ~MainWindowLists() = default;

  // The controller of the current sign-in; null between a log-off and the
  // next start-up. Called while the data thread is stopped.
  virtual void SetController(Controller* controller) = 0;

  // The window's start tab: called once per start-up, after HideAllLists,
  // just before the window is shown. The sync events tab becomes the
  // current tab and its list visible, whatever was current before a log-off.
  virtual void ShowStartTab() = 0;
  // A "click" of a control; true when it was one of the tab buttons.
  virtual bool OnTabClick(dui::CControlUI& sender) = 0;
  // An "itemdbclick" of a row (the conflict list opens the file's folder).
  virtual void OnItemDoubleClick(dui::TNotifyUI& msg) = 0;
  // Hides every list and empties the counts on the tab buttons.
  virtual void HideAllLists() = 0;

  // Runs one list's refresher now (messages 2031 to 2033, 2036 to 2038, and
  // the start-up's first fill of the this-device list).
  virtual void RunRefresher(StatusList list) = 0;
  // The data thread's pass: the refresher of the current list kind. Runs on
  // the data thread, every 100 ms.
  virtual void RefreshCurrentList() = 0;

  // Tab button states and counts the poller asks for.
  virtual void OnThisDeviceRefresh() = 0;                    // 2034
  virtual void OnRemoteDevicesRefresh() = 0;                 // 2035
  virtual void OnLocalChangesCount(std::int64_t count) = 0;  // 2045
  virtual void OnFailedCount(std::int64_t count) = 0;        // 2050
  virtual void OnUnsyncedChanged() = 0;                      // 2051
  // Hover colours of the grouped tab buttons (window pixels).
  virtual void OnMouseMove(dui::Point point) = 0;
  // Ctrl+Shift+L or Ctrl+Shift+G.
  virtual void ToggleLogTab() = 0;
  // A revert ended: the unsynced tab shows unsynced files again.
  virtual void OnRevertDone() = 0;
  // The language changed: the lists whose texts are chosen in code are
  // filled again in the new language.
  virtual void OnLanguageChanged() = 0;

  // The count texts (" (n)" or empty) the composed button texts end with.
  // Any thread (the text query runs where ReloadText is called).
  virtual MainTextCounts Counts() const = 0;
};

// What the tray menu and the language menu carry out through the window.
// UI thread.
class MainWindowCommands {
 public:
  virtual ~MainWindowCommands() = default;
  virtual void ShowMainView() = 0;           // SW_SHOWNORMAL, then to the top
  virtual void OpenSyncFolder() = 0;         // as OPENFOLDERBTN
  virtual void OpenWebSite() = 0;
  virtual void StartUpdater() = 0;
  virtual void StartSyncCommand() = 0;       // as a SYNCBTN click
  virtual void PauseSyncCommand() = 0;       // as a PAUSEBTN click
  virtual void OpenSettings(int origin) = 0; // origin 1 toolbar, 0 tray
  virtual void LogOffCommand() = 0;
  virtual void ExitCommand() = 0;
  // "en" or "zh_cn": stored by the controller, which tells the window.
  virtual void ChooseLanguage(const std::wstring& language) = 0;
  // 1 while override or refresh runs (the tray menu offers fewer items).
  virtual bool IsBusy() const = 0;
  // The button that takes no mouse input is the current state: true while
  // the engine runs (SYNCBTN deaf), false while it is paused.
  virtual bool IsSyncing() const = 0;
  // The settings copy's language.
  virtual std::wstring Language() const = 0;
  // Makes the main window the text provider again and reloads all texts.
  virtual void RestoreTexts() = 0;
};

// The tray icon, the tray menu and the language menu.
class MainWindowTray {
 public:
  virtual ~MainWindowTray() = default;
  // Once per start-up (icon 128, tip "Orlin"). False when the desktop has no
  // notification area; the window then never hides itself.
  virtual bool CreateIcon() = 0;
  // At the restart after a log-off and when the window goes away.
  virtual void DeleteIcon() = 0;
  virtual bool HasIcon() const = 0;
  // WM_USER+1 with the mouse message in lParam.
  virtual void OnTrayMessage(std::intptr_t mouseMessage) = 0;
  // LANGUAGEBTN.
  virtual void OpenLanguageMenu() = 0;
  // WM_USER+3; takes the record (null: only the texts are refreshed).
  virtual void OnMenuCommand(dui::MenuCmd* command) = 0;
};

}  // namespace orlin
