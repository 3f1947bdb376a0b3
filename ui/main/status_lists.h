#pragma once
// The status lists below the main window's toolbar and the row of tab
// buttons that chooses which one shows: sync events, unsynced files (or the
// locally changed items), conflicting files, failed files, last synced files,
// this device, remote devices and the hidden log.
//
// One binder fills every list from the controller's read-only status view:
// each list is a row of a table (list and template names, tab buttons, the
// model list it shows, its changed flag, how a record becomes a row), not a
// class of its own. Rows are built from the list's item template once and
// reused by index; a refill only changes texts and widths and removes the
// rows beyond the new count.
//
// Threads: the main window calls in from its UI thread (notifications,
// messages) and from its data thread (DataPass). Everything here, the list
// state included, is guarded by the window's model lock, which the paint
// manager also holds while it delivers notifications, so a tab click and a
// data-thread refill never interleave. The model lists are copied under
// their own locks and filled without holding them. Nothing here sends a
// window message or calls the resource manager while the model lock is held.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/controller/controller.h"
#include "ui/dui/ui_types.h"
#include "ui/main/main_text_table.h"

namespace orlin::dui {
class WindowImplBase;
class CControlUI;
}  // namespace orlin::dui

namespace orlin {

// What the lists ask of the main window that shows them. Called with the
// window's model lock held, from the UI thread or the data thread: answers
// from plain members, without taking other locks or sending messages.
class StatusListsHost {
 public:
  virtual ~StatusListsHost() = default;
  // The window's language ("en" or "zh_cn"); the texts chosen in code are
  // Chinese exactly for "zh_cn".
  virtual std::wstring Language() const = 0;
  // The sync folder: listed files are examined there for their sizes, and a
  // conflicting file is shown from there.
  virtual std::filesystem::path SyncFolder() const = 0;
  // The status key the status area shows now ("Up to date", "Error_Event",
  // ...): the device buttons stop blinking on some of them.
  virtual std::wstring LastStateKey() const = 0;
};

class StatusLists {
 public:
  // Shows a file selected in the user's file manager (platform/shell.h's
  // ShowItemInFolder in the program).
  using ShowItemFn = std::function<bool(const std::filesystem::path&)>;

  // `window` is the main window whose skin holds the lists and tab buttons;
  // both `window` and `host` outlive this object.
  StatusLists(dui::WindowImplBase& window, StatusListsHost& host, ShowItemFn showItem = {});
  ~StatusLists();
  StatusLists(const StatusLists&) = delete;
  StatusLists& operator=(const StatusLists&) = delete;

  // The controller of the signed-in account, or null between a log-off and
  // the next start-up. A different controller empties every list: its rows
  // belong to another account. The window stops its data thread before it
  // deletes a controller, so no DataPass still reads it.
  void SetController(Controller* controller);

  // --- UI thread: notifications and commands.
  // Handles a tab button's "click" and a conflict row's "itemdbclick"; true
  // when `msg` was one of those (the window passes every notification here).
  bool HandleNotify(const dui::TNotifyUI& msg);
  // "windowinit": the sync events tab is the first one shown.
  void SelectStartTab();
  // A click on a tab button by name (also any of the three this-device and
  // two remote-devices buttons).
  void ClickTab(const std::wstring& buttonName);
  // On start-up, refresh and log-off: hides the lists and empties the counts
  // on the tab buttons. The selected tab stays selected; ShowCurrentTab (or
  // any tab click, that tab's own included) shows its list again.
  void HideAll();
  // Shows the list of the selected tab: at the end of the start-up and when
  // the refresh is done (2042).
  void ShowCurrentTab();
  // Ctrl+Shift+L / Ctrl+Shift+G: shows and selects the log tab, or hides it
  // and goes back to the sync events.
  void ToggleLogTab();
  // After a revert: the unsynced tab shows unsynced files again.
  void LeaveLocalChangesMode();
  // Language switch, after the window reloaded its texts: refills the lists
  // and button texts chosen in code here.
  void OnLanguageChanged();

  // --- UI thread: the poller's messages.
  void OnUnsyncedChanged();                     // 2051
  void OnFailedCount(std::int64_t count);       // 2050
  void OnLocalChangesCount(std::int64_t count); // 2045
  void OnThisDeviceRefresh();                   // 2034
  void OnRemoteDevicesRefresh();                // 2035
  // WM_MOUSEMOVE (window pixels): the device buttons' hover colours.
  void OnMouseMove(dui::Point point);

  // --- Refreshers. Messages 2031 to 2033 and 2036 to 2038 run one on the UI
  // thread; the data thread runs the current list's. A list with a changed
  // flag is refilled only when its flag is set (and the flag is cleared);
  // this device is refilled every time.
  void Refresh(StatusList list);
  // The locally changed items (2045 runs it after switching the tab).
  void RefreshLocallyChanged();

  // --- Data thread (stopped by the window before this object goes).
  // One pass: refreshes the list of the current kind.
  void DataPass();
  // The pause before the next pass: 100 ms, or 400 ms while no list kind
  // is chosen.
  std::chrono::milliseconds PassInterval() const;
  // Whether the current list is filled only when the model marks it changed
  // (every list but this device's, which shows live figures): a pass then
  // has nothing to do until the model's bell rings.
  bool FilledOnlyWhenChanged() const;
  // The model list the current list shows (the address the model's bell
  // names when it changes); null when there is none.
  const void* ListOfInterest() const;

  // --- Read by the window's text query and by tests. Any thread.
  // The count texts (" (n)" or empty) the three composed button texts end
  // with.
  MainTextCounts Counts() const;
  // The text query's answer for the three tab buttons whose texts carry a
  // count ("UnSync_Btn", "Error_Btn", "Remote_Devices_Btn"), so a reload of
  // the texts shows what the lists show: the unsynced tab reads "Changed
  // Items" while it lists the locally changed items. nullopt for other ids.
  std::optional<std::wstring> ButtonText(const std::wstring& id, const std::wstring& language) const;
  std::wstring CurrentTabButton() const;
  std::wstring CurrentList() const;
  std::optional<StatusList> Kind() const;
  bool LocalChangesMode() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orlin
