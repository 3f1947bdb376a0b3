#pragma once
// The main window's message contract: every message another part of Orlin
// (the poller, the controller, the dialogs, the tray, Ravel) sends or posts
// to the main window, by name. Values are fixed: Ravel and the updater are
// separate programs that send them by number, so a value never changes.
//
// WM_USER is 1024; the private messages run from WM_USER+1000 (2024) to
// WM_USER+1027 (2051). Each line says who sends it, how, and what wParam
// carries; the main window's reaction lives with the window.

#include <cstdint>

namespace orlin {

inline constexpr unsigned kWmUser = 0x0400;

enum WindowMessage : unsigned {
  // System messages (WM_DESTROY, WM_COPYDATA from Ravel, WM_KEYDOWN, WM_DPICHANGED)
  // and the window layer's own WM_USER+1 (tray icon) and WM_USER+3 (menu
  // command) are named by ui/dui/ui_types.h.

  kMsgQuit = kWmUser + 1000,              // 2024, posted: login window close, tray "Exit"
  kMsgLoggedOff = kWmUser + 1001,         // 2025, sent by the log-off: back to the login
  kMsgLanguageChanged = kWmUser + 1002,   // 2026, sent: wParam 1 "zh_cn", 0 "en"
  kMsgDialogClosed = kWmUser + 1003,      // 2027, a dialog closed: texts back to the main window
  kMsgUnused2028 = kWmUser + 1004,        // 2028, not used
  kMsgPathInUse = kWmUser + 1005,         // 2029, sent: wParam -> UTF-16 path or 0; result 1/0
  kMsgUnused2030 = kWmUser + 1006,        // 2030, not used
  kMsgRefreshFailedList = kWmUser + 1007,     // 2031, run the failed-files refresher
  kMsgRefreshRemoteList = kWmUser + 1008,     // 2032, run the remote-devices refresher
  kMsgRefreshThisDeviceList = kWmUser + 1009, // 2033, run the this-device refresher
  kMsgThisDeviceRefresh = kWmUser + 1010,     // 2034, posted by the poller
  kMsgRemoteDevicesRefresh = kWmUser + 1011,  // 2035, posted by the poller
  kMsgRefreshUnsyncedList = kWmUser + 1012,   // 2036, run the unsynced-files refresher
  kMsgRefreshSyncEventsList = kWmUser + 1013, // 2037, run the sync-events refresher
  kMsgRefreshLastSyncedList = kWmUser + 1014, // 2038, run the last-synced refresher
  kMsgNothing2039 = kWmUser + 1015,           // 2039, handled by doing nothing
  kMsgSyncLook = kWmUser + 1016,          // 2040, wParam 1: also the resume command
  kMsgPauseLook = kWmUser + 1017,         // 2041, wParam 1: also the pause command
  kMsgRefreshDone = kWmUser + 1018,       // 2042, sent by the poller and the refresh
  kMsgStartDataThread = kWmUser + 1019,   // 2043, posted at the end of the start-up
  kMsgOverrideAvailable = kWmUser + 1020, // 2044, sent by the poller: wParam 0/1
  kMsgLocalChangesCount = kWmUser + 1021, // 2045, sent by the poller: wParam = count
  kMsgDpi = kWmUser + 1022,               // 2046, wParam = DPI, lParam 0 apply / 1 relayout
  kMsgToolbarLock = kWmUser + 1023,       // 2047, posted: 0 locked, 1 unlocked
  kMsgTotalsChanged = kWmUser + 1024,     // 2048, posted by the poller
  kMsgRatesChanged = kWmUser + 1025,      // 2049, posted by the poller
  kMsgFailedCount = kWmUser + 1026,       // 2050, posted by the poller: wParam = count
  kMsgUnsyncedChanged = kWmUser + 1027,   // 2051, posted by the poller
};

// What finds the main window from another process (Ravel, the login window).
inline constexpr wchar_t kMainWindowClass[] = L"UIOrlinFrameWnd";
inline constexpr wchar_t kMainWindowTitle[] = L"Orlin";

// The updater's window (AutoUpdater, started by the tray's "Update"): Orlin
// finds it by class and title to tell it the language (2026, wParam 0 "en",
// 1 otherwise). On POSIX its channel in the install directory stands for it.
inline constexpr wchar_t kUpdaterWindowClass[] = L"UIAutoUpdaterWnd";
inline constexpr wchar_t kUpdaterWindowTitle[] = L"Tarn AutoUpdater";
inline constexpr char kUpdaterWindowChannel[] = "updater";

}  // namespace orlin
