#pragma once
// The main window: the toolbar of sync commands, the status area, the tab
// buttons and status lists (MainWindowLists) and the tray (MainWindowTray).
// It owns the controller of the signed-in account, runs the start-up that
// decides between the login window and the main view, the data thread that
// keeps the lists current and the engine running, and the log-off and exit.
//
// Threads:
//  - UI thread: every message and notification, the start-up's steps that
//    touch controls, the busy states.
//  - Start-up thread: waits for the controller's ready flag and runs the
//    login window modally; the rest of the start-up goes back to the UI
//    thread.
//  - Data thread: every 100 ms the current list's refresher and the engine
//    check.
//  - Workers: override, revert, refresh, add folder, log-off and exit run
//    their controller verbs on threads of their own. The UI thread never
//    waits for them: it sets the busy look, goes on handling messages and
//    painting, and clears the busy look when the worker's completion is
//    handed back (kMsgWorkerDone). So the poller may send messages to the
//    window at any time without waiting for a worker.
//  - The poller calls SetStatusLabel and SetProgress from its own thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "app/controller/controller.h"
#include "common/message_presenter.h"
#include "monitor/monitor_context.h"
#include "platform/process.h"
#include "ui/dialogs/msg_wnd.h"
#include "ui/dialogs/settings_wnd.h"
#include "ui/dui/window_impl_base.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/status_lists.h"
#include "ui/main/tray_menu.h"

namespace orlin {

class COrlinFrameWnd;

// A worker's completion comes back to the UI thread with this message. It
// lies in the application range (WM_APP), outside the numbers other
// programs and parts of Orlin send.
inline constexpr unsigned kMsgWorkerDone = 0x8000 + 1;
// Opens the settings window (wParam: the origin, 1 toolbar, 0 tray). The
// toolbar and the tray post it rather than open the window inside their
// click, whose handling would otherwise last as long as the modal window.
inline constexpr unsigned kMsgOpenSettings = 0x8000 + 3;
// The path Orlin was started with is copied once the main view is up, as
// if it had come with WM_COPYDATA (application range as well).
inline constexpr unsigned kMsgCopyStartPath = 0x8000 + 2;

// With Ctrl and Shift held, either key shows or hides the log tab.
inline constexpr std::uintptr_t kVkL = 0x4C;
inline constexpr std::uintptr_t kVkG = 0x47;

// What the program hands the main window. Everything may be left empty in
// tests except makeController.
struct FrameServices {
  // Makes the controller of one sign-in: at every start-up, again after each
  // log-off. The window is the controller's owner window and status view.
  std::function<std::unique_ptr<Controller>(COrlinFrameWnd&)> makeController;
  // The parts; made once, they live as long as the window.
  std::function<std::unique_ptr<MainWindowLists>(COrlinFrameWnd&)> makeLists;
  std::function<std::unique_ptr<MainWindowTray>(COrlinFrameWnd&)> makeTray;
  // The login window's modal entry, run on the start-up thread when no
  // account is configured: 1 after a login; anything else ends the program.
  std::function<int(Controller&)> runLogin;
  // The settings window's modal entry (UI thread) on the window's settings
  // copy, which it edits; a result of 1 has the window apply the copy. Null:
  // the window's own settings window (ui/dialogs/settings_wnd.h).
  std::function<int(Controller&, SyncSettings& settings, int origin)> runSettings;
  // Shows a message over another window than the main window (the settings
  // window or one of its children, which the user is pointed at); null: the
  // presenter.
  std::function<int(dui::WindowImplBase* owner, const std::wstring& key)> showOver;
  // Questions and failures the user sees; null: none are shown (questions
  // then count as confirmed).
  MessagePresenter* presenter = nullptr;
  // The process table the watchdogs are ended through at exit and the
  // updater is started with; null: neither.
  platform::ProcessTable* processes = nullptr;
  // Where the program lies (lang.xml, the updater).
  std::filesystem::path installDir;
  // The watchdog's image names, compared without case.
  std::vector<std::wstring> watchdogNames{L"monitoring.exe", L"monitoring"};
  // The updater beside the program.
  std::wstring updaterFile = L"AutoUpdater.exe";
  // Starts the updater shown (ShellExecuteW "open" with SW_SHOW on
  // Windows): the process table starts programs hidden, and the updater's
  // first window would take that. Null: platform::StartProgram.
  std::function<bool(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                     const std::filesystem::path& workingDirectory)>
      startProgram;
  std::string webSite = "https://www.tarn.example/";
  // The desktop's handlers; null: the shell service's.
  std::function<bool(const std::filesystem::path&)> openFolder;
  std::function<bool(const std::string&)> openUrl;
  // The DPI of the screen the window is on; null: 96 (a toolkit that scales
  // by itself reports 96).
  std::function<int()> screenDpi;
  // Ends the message loop; null: the installed backend's loop.
  std::function<void()> quit;
  // A path handed over by the file-manager extension (WM_COPYDATA): copies
  // it into the sync folder with the copy window, modally on the UI thread,
  // after its own checks (missing path, the sync folder or a folder above
  // it, a copy already running); true when every file arrived. Null: such
  // paths are dropped.
  std::function<bool(Controller&, const std::wstring& path)> copyIntoSyncFolder;
  // A path Orlin was started with (by Ravel when no Orlin ran): copied once
  // the main view is up.
  std::wstring startPath;
};

class COrlinFrameWnd : public dui::WindowImplBase,
                       public StatusView,
                       public MsgWndHost,
                       public StatusListsHost,
                       public TrayActions,
                       public FolderTakeover {
 public:
  static constexpr int kMaxDpi = 192;

  explicit COrlinFrameWnd(FrameServices services);
  ~COrlinFrameWnd() override;

  // --- WindowImplBase.
  std::wstring GetWindowClassName() const override { return kMainWindowClass; }
  std::wstring GetSkinFile() override { return L"orlin.xml"; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override;
  // Tells the controller whether anyone can see the status: it polls slowly
  // while the window is in the tray or minimised.
  void OnShowStateChanged(bool onScreen) override;

  // --- StatusView: the poller's direct calls (any thread).
  void SetStatusLabel(const std::wstring& key) override;
  void SetProgress(std::int32_t percent) override;

  // --- MsgWndHost: the message windows take the window's DPI.
  int GetDpi() const override;
  void SetDpi(int dpi, int notify) override;

  // --- StatusListsHost (any thread).
  std::wstring Language() const override;
  std::filesystem::path SyncFolder() const override;
  std::wstring LastStateKey() const override;

  // --- TrayActions: the commands of the tray menu and the language menu
  // (UI thread).
  void ShowMain() override;
  void OpenFolder() override;
  void OpenWeb() override;
  void Update() override;
  void Resume() override;
  void Pause() override;
  void Settings() override { PostMessageW(kMsgOpenSettings, 0); }
  void LogOff() override;
  void Exit() override;
  void SetLanguage(const std::wstring& language) override;
  bool IsBusy() const override { return busy_.load(); }

  // --- For the parts, the program and tests.
  Controller* GetController() const { return controller_.get(); }
  MainWindowLists* Lists() const { return lists_.get(); }
  MainWindowTray* Tray() const { return tray_.get(); }
  // The window's copy of the controller's settings (UI thread).
  const SyncSettings& SettingsCopy() const { return settings_; }
  // Settings: origin 1 from the toolbar, 0 from the tray.
  void OpenSettings(int origin);
  // The open settings window (null when none, or while a test's entry runs).
  CSettingWnd* SettingsWindow() const { return settingsWnd_; }
  // True while a confirmed settings record is being applied.
  bool IsApplyingSettings() const { return applyRunning_.load(); }

  // --- FolderTakeover: a settings apply moving the sync folder copies the
  // old folder's content into the new one with the copy window (the apply
  // worker's thread).
  bool TakeOverFolder(const std::wstring& from, const std::wstring& to) override;
  bool IsDataThreadRunning() const;
  // True once the start-up has shown the main view (until a log-off).
  bool IsStarted() const { return started_.load(); }
  // Workers (start-up, busy operations, log-off, exit) still running.
  int RunningWorkers() const;
  // Folder type look: the tooltip of OPENFOLDERBTN by the folder type; after
  // the settings window also which of REVERTBTN and OVERRIDEBTN are hidden.
  void ApplyFolderTypeLook(bool afterSettings);

 private:
  enum class Look { kSync, kPause };
  struct Completion {
    std::uint64_t worker;
    std::function<void()> done;
  };

  // Start-up and restart.
  void BeginStartup();
  void StartupThread(std::stop_token stop, Controller* controller, std::shared_ptr<int> outcome);
  // The copies other threads read (Language, SyncFolder).
  void PublishSettings();
  void RestoreTexts();
  void CompleteStartup();
  void SelectStartTab();
  void Restart();
  void Quit();

  // Commands and looks.
  void ApplyLook(Look look, bool command);
  void ToolbarLock(bool unlocked);
  void RecomputeHover();
  void Override();
  void Revert();
  void Refresh();
  void RefreshDone();
  void AddFolder();
  void SetBusyButtons(const wchar_t* own, bool busy);
  void ShowTotals();
  void ShowRates();
  void SwitchLanguage(bool chinese);
  void ApplyDpi(int dpi);
  void SetUpDpi();
  void RelayoutNudge();
  void EndWatchdogs();
  std::intptr_t PathInUse(std::uintptr_t wParam);
  std::intptr_t CopyIntoSyncFolder(const std::wstring& path);
  int Ask(const std::wstring& key);
  int AskOver(dui::WindowImplBase* owner, const std::wstring& key);
  // Settings: the window's own settings window, the user pointed at an open
  // one (log-off asks too), and the apply of a confirmed record.
  int RunSettingsWindow(int origin);
  void PointAtOpenSettings(bool logOff, int origin);
  void ApplyConfirmedSettings();

  // Workers and the data thread.
  void RunWorker(std::function<void(std::stop_token)> work, std::function<void()> done);
  void HandleCompletions();
  void StartDataThread();
  // Stops it and waits; from workers only (the UI thread never waits for it).
  void StopDataThread();
  void DataLoop(std::stop_token stop, Controller* controller);
  // Ends the data thread's wait for a change at once. Any thread.
  void WakeDataThread();

  template <class T = dui::CControlUI>
  T* Find(const wchar_t* name);
  void SetText(const wchar_t* name, const std::wstring& text);
  std::wstring Text(const std::wstring& id) const;

  FrameServices services_;
  std::unique_ptr<Controller> controller_;
  std::unique_ptr<MainWindowLists> lists_;
  std::unique_ptr<MainWindowTray> tray_;
  SyncSettings settings_;
  // Guards what other threads read: the status key, the language and sync
  // folder copies, the data thread's handle. Never held while a control is
  // changed.
  mutable std::mutex stateMutex_;
  std::wstring lastStateKey_;
  std::wstring language_ = L"zh_cn";
  std::filesystem::path syncFolder_;
  std::jthread dataThread_;
  // Whether the window shows; the data thread comes by less often while it
  // does not, and at once when it shows again (woken through dataSleep_).
  std::atomic<bool> onScreen_{false};
  // Wakes the data thread's pause when it is to stop. A plain condition
  // variable: a wait on the stop token would register a stop callback, whose
  // wake-up the MinGW standard library can lose.
  std::mutex dataSleepMutex_;
  std::condition_variable dataSleep_;
  // Counts the calls for a pass (a list changed, the engine was lost, a tab
  // was chosen); under dataSleepMutex_.
  std::uint64_t dataWanted_ = 0;
  // The model list the current list shows: only its changes wake the data
  // thread (null: every change does).
  std::atomic<const void*> listOfInterest_{nullptr};
  std::atomic<int> dpi_{96};

  mutable std::mutex workersMutex_;
  std::map<std::uint64_t, std::jthread> workers_;
  std::deque<Completion> completions_;
  std::uint64_t nextWorker_ = 1;

  std::atomic<bool> busy_{false};
  // The operation whose worker runs (override, revert, refresh, add folder,
  // log-off); another one is refused meanwhile.
  std::atomic<bool> operationRunning_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> exiting_{false};
  bool loggingOff_ = false;
  bool settingsOpen_ = false;
  CSettingWnd* settingsWnd_ = nullptr;
  std::atomic<bool> applyRunning_{false};
  bool startTabChosen_ = false;
  bool restartPending_ = false;
  dui::Color busyOldBkColor_ = 0;
  // The caption band as the skin gives it at 96 DPI.
  dui::Rect skinCaption_;
};

}  // namespace orlin
