#include "ui/main/orlin_frame_wnd.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <utility>

#include "app/store/state_files.h"
#include "ui/dialogs/cp_wnd.h"
#include "ui/dialogs/settings_texts.h"
#include "platform/shell.h"
#include "platform/window_lookup.h"
#include "ui/dui/find_control.h"
#include "common/text.h"
#include "ui/main/main_text_table.h"

namespace orlin {

using dui::CControlUI;
using dui::CResourceManager;

namespace {

constexpr wchar_t kSyncBtn[] = L"SYNCBTN";
constexpr wchar_t kPauseBtn[] = L"PAUSEBTN";
constexpr wchar_t kRefreshBtn[] = L"REFRESHBTN";
constexpr wchar_t kPreferencesBtn[] = L"PREFERENCESBTN";
constexpr wchar_t kRevertBtn[] = L"REVERTBTN";
constexpr wchar_t kOverrideBtn[] = L"OVERRIDEBTN";
constexpr wchar_t kOpenFolderBtn[] = L"OPENFOLDERBTN";

// While the window is in the tray or minimised nobody reads the lists: the
// data thread's pass (the current list, the engine check) runs once a second.
constexpr auto kHiddenDataPass = std::chrono::seconds(1);
// On screen, a list that is filled only when the poller marks it changed
// needs no look while nothing changes: the pass then waits for the model's
// bell (a change, or the engine lost), the tab row, or this long at most,
// which still checks the engine once a second. A change is shown at once,
// and passes stay at least the list's interval (100 ms) apart.
constexpr auto kQuietDataPass = std::chrono::seconds(1);

constexpr dui::Color kBusyBkColor = 0xFF4B74B4;
constexpr dui::Color kRefreshIdleBkColor = 0xFFB0BBC7;

// The toolbar buttons a busy operation takes away from the user.
constexpr const wchar_t* kBusyButtons[] = {kSyncBtn, kPauseBtn, kRefreshBtn, kPreferencesBtn};

// The status keys that say nothing is being transferred: the progress bar
// is hidden while one of them shows.
bool HidesProgress(const std::wstring& key) {
  static const wchar_t* const kKeys[] = {L"Orlin Starting", L"Orlin Started", L"Outofsync_Event",
                                         L"Error_Event", L"Remote_Disconnected_Event", L"Local_Additions_Event",
                                         L"Unknown_Event", L"Suspended_Event", L"Orlin Prestart"};
  return std::any_of(std::begin(kKeys), std::end(kKeys), [&](const wchar_t* k) { return key == k; });
}

// The sync and pause buttons' two looks. The button that shows the current
// state has the active look and takes no mouse input.
std::wstring ImageAttr(const std::wstring& button, const wchar_t* state) {
  return L"\"file='res\\mainwnd\\" + button + L"_btn_" + state + L".png' dest='10,13,26,29'\"";
}

std::wstring ActiveLook(const std::wstring& button) {
  return L"normalimage=" + ImageAttr(button, L"selected") +
         L" textcolor=\"#FFFFFFFF\" pushedtextcolor=\"#FFFFFFFF\" bkcolor=\"#FF4B74B4\" hotbkcolor=\"#FF4B74B4\"";
}

std::wstring InactiveLook(const std::wstring& button) {
  return L"normalimage=" + ImageAttr(button, L"normal") + L" pushedimage=" + ImageAttr(button, L"selected") +
         L" textcolor=\"#FF000000\" pushedtextcolor=\"#FFFFFFFF\" bkcolor=\"#FFB0BBC7\" hotbkcolor=\"#FF808080\""
         L" pushedbkcolor=\"#FF4B74B4\"";
}

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return s;
}

}  // namespace

COrlinFrameWnd::COrlinFrameWnd(FrameServices services) : services_(std::move(services)) {
  if (!services_.openFolder) services_.openFolder = platform::OpenFolder;
  if (!services_.openUrl) services_.openUrl = platform::OpenUrl;
}

// The exit and the log-off stop polling before the window goes; the UI
// thread pumps nothing from here on, so a poller still running could not
// have a sent message answered.
COrlinFrameWnd::~COrlinFrameWnd() {
  exiting_ = true;
  StopDataThread();
  std::map<std::uint64_t, std::jthread> workers;
  {
    std::lock_guard lock(workersMutex_);
    workers = std::move(workers_);
    completions_.clear();
  }
  for (auto& [id, worker] : workers) worker.request_stop();
  workers.clear();  // joins
  if (tray_) tray_->DeleteIcon();
  CResourceManager::GetInstance().RemoveTextQueryInterface(this);
  lists_.reset();
  tray_.reset();
  controller_.reset();
}

template <class T>
T* COrlinFrameWnd::Find(const wchar_t* name) {
  return dui::FindControlAs<T>(pm_, name);
}

void COrlinFrameWnd::SetText(const wchar_t* name, const std::wstring& text) {
  if (auto* c = Find(name)) c->SetText(text);
}

std::wstring COrlinFrameWnd::Text(const std::wstring& id) const {
  return MainTextTable::Lookup(id, CResourceManager::GetInstance().GetLanguage()).value_or(id);
}

// ------------------------------------------------------------ start-up

void COrlinFrameWnd::InitWindow() {
  skinCaption_ = pm_.GetCaptionRect();
  if (services_.makeLists) lists_ = services_.makeLists(*this);
  if (services_.makeTray) tray_ = services_.makeTray(*this);
  BeginStartup();
}

void COrlinFrameWnd::BeginStartup() {
  started_ = false;
  controller_ = services_.makeController ? services_.makeController(*this) : nullptr;
  ShowWindowCommand(dui::kSwHide);
  SetUpDpi();
  if (!controller_) {
    Quit();
    return;
  }
  if (lists_) lists_->SetController(controller_.get());
  controller_->Start();
  Controller* controller = controller_.get();
  auto outcome = std::make_shared<int>(kModalCancel);
  RunWorker([this, controller, outcome](std::stop_token stop) { StartupThread(stop, controller, outcome); },
            [this, outcome] {
              if (exiting_) return;
              if (*outcome == kModalOk) {
                CompleteStartup();
              } else {
                Quit();
              }
            });
}

// The start-up thread: the controller's ready flag and the login window.
// Everything that touches the main window's controls goes back to the UI
// thread (CompleteStartup).
void COrlinFrameWnd::StartupThread(std::stop_token stop, Controller* controller, std::shared_ptr<int> outcome) {
  while (!controller->WaitReady(std::chrono::milliseconds(100))) {
    if (stop.stop_requested()) return;
  }
  if (controller->LoginNeeded()) {
    int result = services_.runLogin ? services_.runLogin(*controller) : kModalCancel;
    if (result != kModalOk) {
      *outcome = result;
      return;
    }
  }
  *outcome = kModalOk;
}

void COrlinFrameWnd::CompleteStartup() {
  settings_ = controller_->Settings();
  if (settings_.language.empty()) settings_.language = L"zh_cn";
  PublishSettings();
  if (tray_) tray_->CreateIcon();

  const AccountView account = controller_->Account();
  SetText(L"SYNCMSGSHOWEDLABEL", account.userName + L"@" + account.server);
  SetText(L"SYNCFOLDERPATHLABEL", settings_.syncFolderPath);

  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  resources.SetLanguage(settings_.language);
  resources.ReloadText();
  const bool chinese = settings_.language == L"zh_cn";
  const MainTextCounts counts = lists_ ? lists_->Counts() : MainTextCounts{};
  SetText(L"UNSYNCBTN", (chinese ? L"未同步文件" : L"UnSynced Files") + counts.unsynced);
  SetText(L"ERRORBTN", (chinese ? L"失败文件" : L"Failure Files") + counts.failed);
  if (lists_) lists_->OnRemoteDevicesRefresh();

  std::uint32_t ex = GetExStyle();
  ex = settings_.hideFromTaskbar ? (ex & ~dui::kWsExAppWindow) | dui::kWsExToolWindow
                                 : (ex & ~dui::kWsExToolWindow) | dui::kWsExAppWindow;
  SetExStyle(ex);

  // The start tab is chosen before the lists are hidden, also when the
  // start-up finishes before "windowinit" arrived.
  SelectStartTab();
  if (lists_) lists_->HideAll();
  ApplyFolderTypeLook(false);

  SetText(L"FILESTOTALLABEL", L"0");
  SetText(L"FOLDERSTOTALLABEL", L"0");
  SetText(L"SIZENUMLABEL", L"0 B");
  SetText(L"UPLOADRATELABEL", L"0 B/s (0 B)");
  SetText(L"DOWNLOADRATELABEL", L"0 B/s (0 B)");
  if (lists_) lists_->Refresh(StatusList::kThisDevice);

  SetStatusLabel(L"Orlin Prestart");
  if (settings_.dpi > 0) ApplyDpi(settings_.dpi);
  SetUpDpi();

  // Every start-up begins by resuming the engine, then the data thread.
  PostMessageW(kMsgSyncLook, 1);
  PostMessageW(kMsgStartDataThread);
  // Posted, so the main view shows before the copy window runs over it; once
  // (a later sign-in after a log-off does not copy it again).
  if (!services_.startPath.empty()) PostMessageW(kMsgCopyStartPath);

  if (lists_) lists_->ShowCurrentTab();
  started_ = true;
  ShowWindowCommand(dui::kSwShowNormal);
  BringWindowToTop();
}

// Once per window: "windowinit" and the first start-up race for it.
void COrlinFrameWnd::SelectStartTab() {
  if (startTabChosen_) return;
  startTabChosen_ = true;
  if (lists_) lists_->SelectStartTab();
}

// After a log-off: the controller of the old sign-in goes, a new one starts
// with the login window. The window object itself stays.
void COrlinFrameWnd::Restart() {
  restartPending_ = false;
  started_ = false;
  if (tray_) tray_->DeleteIcon();
  if (lists_) lists_->SetController(nullptr);
  controller_.reset();
  BeginStartup();
}

void COrlinFrameWnd::Quit() {
  if (services_.quit) {
    services_.quit();
  } else if (auto backend = dui::UiBackend::Current()) {
    backend->QuitMessageLoop();
  }
}

// ------------------------------------------------------------ notifications

void COrlinFrameWnd::Notify(dui::TNotifyUI& msg) {
  CControlUI* sender = msg.pSender;
  if (!sender) return;
  if (msg.sType == dui::kEventWindowInit) {
    SelectStartTab();
    return;
  }
  if (msg.sType != dui::kEventClick) {
    if (lists_ && lists_->HandleNotify(msg)) WakeDataThread();
    return;
  }
  const std::wstring& name = sender->GetName();
  // Clicks reach here from the mouse and from automation alike; a button
  // the window disabled takes neither.
  if (!sender->IsEnabled()) return;
  if (name == L"MINBTN") {
    ShowWindowCommand(dui::kSwMinimize);
  } else if (name == L"MAXBTN") {
    ShowWindowCommand(IsZoomed() ? dui::kSwRestore : dui::kSwMaximize);
  } else if (name == L"CLOSEBTN") {
    // To the tray; without a notification area the window would become
    // unreachable, so it is only minimised then.
    ShowWindowCommand(tray_ && tray_->HasIcon() ? dui::kSwHide : dui::kSwMinimize);
  } else if (name == kSyncBtn) {
    ApplyLook(Look::kSync, true);
  } else if (name == kPauseBtn) {
    ApplyLook(Look::kPause, true);
  } else if (name == kRefreshBtn) {
    Refresh();
  } else if (name == kPreferencesBtn) {
    PostMessageW(kMsgOpenSettings, 1);
  } else if (name == kOpenFolderBtn) {
    OpenFolder();
  } else if (name == L"ADDFOLDERBTN") {
    AddFolder();
  } else if (name == kOverrideBtn) {
    Override();
  } else if (name == kRevertBtn) {
    Revert();
  } else if (name == L"LANGUAGEBTN") {
    if (tray_) tray_->OpenLanguageMenu();
  } else if (lists_) {
    // Another tab may want passes the old one did not.
    if (lists_->HandleNotify(msg)) WakeDataThread();
  }
}

// ------------------------------------------------------------ messages

std::intptr_t COrlinFrameWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                                 bool& handled) {
  auto count = static_cast<std::int64_t>(static_cast<std::intptr_t>(wParam));
  switch (msg) {
    case kMsgWorkerDone:
      handled = true;
      HandleCompletions();
      return 0;
    case kMsgOpenSettings:
      handled = true;
      OpenSettings(wParam == 1 ? 1 : 0);
      return 0;
    case dui::kWmDestroy:
      handled = true;
      if (tray_) tray_->DeleteIcon();
      Close(kModalCancel);
      Quit();
      return 0;
    case dui::kWmClose:
      // The window manager's close: to the tray as CLOSEBTN does, or, with
      // no tray to come back from, the end of the program.
      handled = true;
      if (tray_ && tray_->HasIcon()) {
        ShowWindowCommand(dui::kSwHide);
      } else {
        Exit();
      }
      return 0;
    case dui::kWmKeyDown:
      if ((wParam == kVkL || wParam == kVkG) && (lParam & dui::kKeyModControl) && (lParam & dui::kKeyModShift)) {
        handled = true;
        if (lists_) lists_->ToggleLogTab();
      }
      return 0;
    case dui::kWmMouseMove:
      if (lists_) lists_->OnMouseMove(dui::PointFromLParam(lParam));
      return 0;
    case dui::kWmDpiChanged: {
      handled = true;
      int dpi = std::min(static_cast<int>(wParam & 0xFFFF), kMaxDpi);
      ApplyDpi(dpi);
      PostMessageW(kMsgDpi, static_cast<std::uintptr_t>(dpi), 1);
      return 0;
    }
    case dui::kWmTrayCallback:
      handled = true;
      if (tray_) tray_->OnTrayMessage(static_cast<unsigned>(lParam));
      return 0;
    case dui::kWmMenuCommand:
      handled = true;
      if (tray_) {
        tray_->OnMenuCommand(reinterpret_cast<dui::MenuCmd*>(wParam));
      } else {
        dui::CPaintManagerUI::DeletePtr(reinterpret_cast<dui::MenuCmd*>(wParam));
      }
      return 0;
    case kMsgQuit:
      handled = true;
      Exit();
      return 0;
    case kMsgLoggedOff:
      handled = true;
      restartPending_ = true;
      if (!loggingOff_) {
        // A log-off the window did not start: its sender is still inside
        // the controller, so the controller is replaced only after the data
        // thread has been stopped on a worker, never while this message is
        // handled.
        RunWorker([this](std::stop_token) { StopDataThread(); }, [this] {
          if (restartPending_ && !exiting_) Restart();
        });
      }
      return 0;
    case kMsgLanguageChanged:
      handled = true;
      SwitchLanguage(wParam == 1);
      return 0;
    case kMsgDialogClosed:
      handled = true;
      RestoreTexts();
      return 0;
    case kMsgPathInUse:
      handled = true;
      return PathInUse(wParam);
    case dui::kWmCopyData:
      // From Ravel: the whole copy runs in here, so the sender's
      // SendMessageW returns once the copy window closed.
      handled = true;
      return lParam ? CopyIntoSyncFolder(platform::CopyDataPath(*reinterpret_cast<const platform::CopyDataMessage*>(lParam)))
                    : 0;
    case kMsgCopyStartPath: {
      handled = true;
      const std::wstring path = std::exchange(services_.startPath, {});
      return path.empty() ? 0 : CopyIntoSyncFolder(path);
    }
    case kMsgRefreshFailedList:
    case kMsgRefreshRemoteList:
    case kMsgRefreshThisDeviceList:
    case kMsgRefreshUnsyncedList:
    case kMsgRefreshSyncEventsList:
    case kMsgRefreshLastSyncedList: {
      if (!lists_) return 0;
      StatusList list = msg == kMsgRefreshFailedList         ? StatusList::kFailed
                        : msg == kMsgRefreshRemoteList       ? StatusList::kRemoteDevices
                        : msg == kMsgRefreshThisDeviceList   ? StatusList::kThisDevice
                        : msg == kMsgRefreshUnsyncedList     ? StatusList::kUnsynced
                        : msg == kMsgRefreshSyncEventsList   ? StatusList::kSyncEvents
                                                             : StatusList::kLastSynced;
      lists_->Refresh(list);
      return 0;
    }
    case kMsgThisDeviceRefresh:
      if (lists_) lists_->OnThisDeviceRefresh();
      return 0;
    case kMsgRemoteDevicesRefresh:
      if (lists_) lists_->OnRemoteDevicesRefresh();
      return 0;
    case kMsgNothing2039:
      return 0;
    case kMsgSyncLook:
      ApplyLook(Look::kSync, wParam == 1);
      return 0;
    case kMsgPauseLook:
      ApplyLook(Look::kPause, wParam == 1);
      return 0;
    case kMsgRefreshDone:
      RefreshDone();
      return 0;
    case kMsgStartDataThread:
      StartDataThread();
      return 0;
    case kMsgOverrideAvailable:
      if (auto* c = Find(kOverrideBtn)) c->SetVisible(wParam != 0);
      return 0;
    case kMsgLocalChangesCount:
      if (lists_) lists_->OnLocalChangesCount(count);
      return 0;
    case kMsgDpi:
      if (lParam == 0) {
        ApplyDpi(static_cast<int>(wParam));
      } else {
        RelayoutNudge();
      }
      return 0;
    case kMsgToolbarLock:
      ToolbarLock(wParam != 0);
      return 0;
    case kMsgTotalsChanged:
      ShowTotals();
      return 0;
    case kMsgRatesChanged:
      ShowRates();
      return 0;
    case kMsgFailedCount:
      if (lists_) lists_->OnFailedCount(count);
      return 0;
    case kMsgUnsyncedChanged:
      if (lists_) lists_->OnUnsyncedChanged();
      return 0;
    default:
      return 0;
  }
}

std::intptr_t COrlinFrameWnd::PathInUse(std::uintptr_t wParam) {
  if (!controller_) return 0;
  const auto* text = reinterpret_cast<const wchar_t*>(wParam);
  std::wstring path = text && *text ? std::wstring(text) : settings_.syncFolderPath;
  return controller_->PathInUse(path) ? 1 : 0;
}

// A path from the file manager. Only the main view copies: before it is up
// (the start-up runs, the login window shows) there is no sync folder yet,
// and the copy would land wherever an empty destination leads.
std::intptr_t COrlinFrameWnd::CopyIntoSyncFolder(const std::wstring& path) {
  if (!started_ || !controller_ || !services_.copyIntoSyncFolder || path.empty()) return 0;
  const bool copied = services_.copyIntoSyncFolder(*controller_, path);
  RestoreTexts();
  return copied ? 1 : 0;
}

std::optional<std::wstring> COrlinFrameWnd::QueryControlText(const std::wstring& id, const std::wstring&) {
  const std::wstring language = CResourceManager::GetInstance().GetLanguage();
  if (lists_) {
    // The tab buttons with counts read what the lists show.
    if (auto text = lists_->ButtonText(id, language)) return text;
  }
  return MainTextTable::Lookup(id, language, lists_ ? lists_->Counts() : MainTextCounts{});
}

// ------------------------------------------------------------ status area

void COrlinFrameWnd::SetStatusLabel(const std::wstring& key) {
  {
    std::lock_guard lock(stateMutex_);
    lastStateKey_ = key;
  }
  if (auto* progress = Find(L"SYNCPROGRESS")) progress->SetVisible(!HidesProgress(key));
  if (auto* label = Find(L"EVENTLABEL")) {
    // A resource text: the language switch translates it again.
    label->SetTextId(key);
    label->SetText(Text(key));
    label->SetVisible(true);
  }
}

void COrlinFrameWnd::SetProgress(std::int32_t percent) {
  if (percent > 100) return;
  percent = std::max(percent, 0);
  if (auto* progress = Find<dui::CProgressUI>(L"SYNCPROGRESS")) {
    progress->SetValue(percent);
    progress->SetText(std::to_wstring(percent) + L"%");
  }
}

std::wstring COrlinFrameWnd::LastStateKey() const {
  std::lock_guard lock(stateMutex_);
  return lastStateKey_;
}

std::wstring COrlinFrameWnd::Language() const {
  std::lock_guard lock(stateMutex_);
  return language_;
}

std::filesystem::path COrlinFrameWnd::SyncFolder() const {
  std::lock_guard lock(stateMutex_);
  return syncFolder_;
}

void COrlinFrameWnd::PublishSettings() {
  std::lock_guard lock(stateMutex_);
  language_ = settings_.language;
  syncFolder_ = PathFromWide(settings_.syncFolderPath);
}

void COrlinFrameWnd::ShowTotals() {
  if (!controller_) return;
  SystemSummary summary = controller_->Status().Summary();
  SetText(L"FILESTOTALLABEL", summary.fileCountText);
  SetText(L"FOLDERSTOTALLABEL", summary.folderCountText);
  SetText(L"SIZENUMLABEL", summary.sizeText);
}

void COrlinFrameWnd::ShowRates() {
  if (!controller_) return;
  SystemSummary summary = controller_->Status().Summary();
  SetText(L"UPLOADRATELABEL", summary.uploadText);
  SetText(L"DOWNLOADRATELABEL", summary.downloadText);
}

void COrlinFrameWnd::ApplyFolderTypeLook(bool afterSettings) {
  static const wchar_t* const kTypeIds[] = {L"Send_Receive", L"Send_Only", L"Receive_Only"};
  const int type = settings_.folderType >= 0 && settings_.folderType <= 2 ? settings_.folderType : 0;
  if (auto* open = Find(kOpenFolderBtn)) open->SetToolTip(Text(kTypeIds[type]));
  if (!afterSettings) return;
  if (type == kFolderSendReceive || type == kFolderSendOnly) {
    if (auto* revert = Find(kRevertBtn)) revert->SetVisible(false);
  }
  if (type == kFolderSendReceive || type == kFolderReceiveOnly) {
    if (auto* override_ = Find(kOverrideBtn)) override_->SetVisible(false);
  }
}

// ------------------------------------------------------------ sync commands

void COrlinFrameWnd::ApplyLook(Look look, bool command) {
  const bool sync = look == Look::kSync;
  auto* active = Find(sync ? kSyncBtn : kPauseBtn);
  auto* inactive = Find(sync ? kPauseBtn : kSyncBtn);
  if (active) {
    active->ApplyAttributeList(ActiveLook(sync ? L"sync" : L"pause"));
    active->SetMouseEnabled(false);
  }
  if (inactive) {
    inactive->SetMouseEnabled(true);
    inactive->ApplyAttributeList(InactiveLook(sync ? L"pause" : L"sync"));
  }
  RecomputeHover();
  if (!command) return;
  if (auto* refresh = Find(kRefreshBtn)) {
    refresh->SetEnabled(sync);
    refresh->SetMouseEnabled(sync);
  }
  if (!controller_) return;
  if (sync) {
    controller_->StartSync();
  } else {
    controller_->Pause();
  }
}

// The buttons that take the mouse changed: the hover states are worked out
// again for where the pointer really is (a point off the window clears
// them), so no button looks hot that the pointer is not over.
void COrlinFrameWnd::RecomputeHover() {
  auto backend = dui::UiBackend::Current();
  auto* native = GetHWND();
  if (!backend || !native) return;
  const dui::Point cursor = backend->GetCursorPos();
  const dui::Rect window = native->GetRect();
  SendMessageW(dui::kWmMouseMove, 0, dui::MakePointLParam(dui::Point{cursor.x - window.left, cursor.y - window.top}));
}

void COrlinFrameWnd::Resume() { ApplyLook(Look::kSync, true); }
void COrlinFrameWnd::Pause() { ApplyLook(Look::kPause, true); }

void COrlinFrameWnd::ToolbarLock(bool unlocked) {
  for (const wchar_t* name : {kSyncBtn, kPauseBtn, kRefreshBtn, kPreferencesBtn, kRevertBtn, kOverrideBtn}) {
    if (auto* c = Find(name)) c->SetEnabled(unlocked);
  }
  if (unlocked) {
    ApplyLook(Look::kSync, false);
  } else {
    ApplyLook(Look::kPause, false);
    SetStatusLabel(L"Suspended_Event");
  }
}

// The busy look: the operation's own button disabled and coloured, the
// other commands disabled. Undone with busy = false.
void COrlinFrameWnd::SetBusyButtons(const wchar_t* own, bool busy) {
  if (auto* button = Find(own)) {
    if (busy) {
      busyOldBkColor_ = button->GetBkColor();
      button->SetBkColor(kBusyBkColor);
    } else {
      button->SetBkColor(busyOldBkColor_);
    }
    button->SetEnabled(!busy);
  }
  for (const wchar_t* name : kBusyButtons) {
    if (std::wstring(name) == own) continue;
    if (auto* c = Find(name)) c->SetEnabled(!busy);
  }
}

void COrlinFrameWnd::Override() {
  if (!controller_ || operationRunning_.exchange(true)) return;
  busy_ = true;
  SetBusyButtons(kOverrideBtn, true);
  Controller* controller = controller_.get();
  RunWorker([controller](std::stop_token stop) { controller->Override(stop); },
            [this] {
              SetBusyButtons(kOverrideBtn, false);
              busy_ = false;
              operationRunning_ = false;
            });
}

void COrlinFrameWnd::Revert() {
  if (!controller_ || operationRunning_.exchange(true)) return;
  SetBusyButtons(kRevertBtn, true);
  Controller* controller = controller_.get();
  RunWorker([controller](std::stop_token stop) { controller->Revert(stop); },
            [this] {
              SetBusyButtons(kRevertBtn, false);
              if (auto* revert = Find(kRevertBtn)) revert->SetVisible(false);
              if (lists_) lists_->LeaveLocalChangesMode();
              operationRunning_ = false;
            });
}

// The buttons stay disabled after the worker until the poller reports the
// refresh done (RefreshDone).
void COrlinFrameWnd::Refresh() {
  if (!controller_ || operationRunning_.exchange(true)) return;
  busy_ = true;
  if (auto* refresh = Find(kRefreshBtn)) {
    refresh->SetEnabled(false);
    refresh->SetBkColor(kBusyBkColor);
  }
  for (const wchar_t* name : {kSyncBtn, kPauseBtn, kPreferencesBtn}) {
    if (auto* c = Find(name)) c->SetEnabled(false);
  }
  if (lists_) lists_->HideAll();
  Controller* controller = controller_.get();
  RunWorker([controller](std::stop_token) { controller->Refresh(); }, [this] { operationRunning_ = false; });
}

void COrlinFrameWnd::RefreshDone() {
  if (auto* refresh = Find(kRefreshBtn)) {
    refresh->SetBkColor(kRefreshIdleBkColor);
    refresh->SetEnabled(true);
    refresh->SetMouseEnabled(true);
  }
  if (auto* sync = Find(kSyncBtn)) {
    sync->SetEnabled(true);
    sync->ApplyAttributeList(ActiveLook(L"sync"));
    sync->SetMouseEnabled(false);
  }
  if (auto* pause = Find(kPauseBtn)) {
    pause->SetEnabled(true);
    pause->SetMouseEnabled(true);
    pause->ApplyAttributeList(InactiveLook(L"pause"));
  }
  RecomputeHover();
  if (auto* preferences = Find(kPreferencesBtn)) preferences->SetEnabled(true);
  busy_ = false;
  // The refresh hid the lists; the selected tab's list shows again.
  if (lists_) lists_->ShowCurrentTab();
}

void COrlinFrameWnd::AddFolder() {
  if (!controller_ || operationRunning_.exchange(true)) return;
  Controller* controller = controller_.get();
  RunWorker([controller](std::stop_token) { controller->AddFolder(); }, [this] { operationRunning_ = false; });
}

void COrlinFrameWnd::OnShowStateChanged(bool onScreen) {
  {
    std::lock_guard lock(dataSleepMutex_);
    onScreen_ = onScreen;
  }
  dataSleep_.notify_all();
  if (controller_) controller_->SetViewVisible(onScreen);
}

void COrlinFrameWnd::ShowMain() {
  ShowWindowCommand(dui::kSwShowNormal);
  BringWindowToTop();
}

void COrlinFrameWnd::OpenFolder() {
  if (!settings_.syncFolderPath.empty()) services_.openFolder(PathFromWide(settings_.syncFolderPath));
}

void COrlinFrameWnd::OpenWeb() { services_.openUrl(services_.webSite); }

void COrlinFrameWnd::Update() {
  const std::filesystem::path updater = services_.installDir / services_.updaterFile;
  const std::vector<std::wstring> arguments{L"updateApp"};
  const bool started = services_.startProgram ? services_.startProgram(updater, arguments, services_.installDir)
                                              : platform::StartProgram(updater, arguments, services_.installDir);
  if (!started) Ask(L"UpdateApp_Error_Msg");
}

void COrlinFrameWnd::OpenSettings(int origin) {
  if (!controller_) return;
  if (settingsOpen_) {
    PointAtOpenSettings(false, origin);
    return;
  }
  // A record still being applied is not offered for editing again.
  if (applyRunning_) return;
  const std::wstring language = ReadLanguageFile(services_.installDir).value_or(L"zh_cn");
  settings_ = controller_->ReloadSettings();
  settings_.language = language;
  settingsOpen_ = true;
  const int result =
      services_.runSettings ? services_.runSettings(*controller_, settings_, origin) : RunSettingsWindow(origin);
  settingsOpen_ = false;
  PublishSettings();
  RestoreTexts();
  ApplyFolderTypeLook(true);
  if (result == kModalOk) ApplyConfirmedSettings();
}

int COrlinFrameWnd::RunSettingsWindow(int origin) {
  CSettingWnd wnd(settings_, *controller_, origin, nullptr);
  // A minimised main window (or one in the tray, for the tray's Setting)
  // would take it out of sight: the desktop owns it then.
  const bool ownerOutOfSight = IsIconic() || !GetHWND() || !GetHWND()->IsShown();
  if (!wnd.Create(ownerOutOfSight ? nullptr : this, SettingsWindowTitle(settings_.language), CSettingWnd::kStyle,
                  dui::kWsExTopmost)) {
    return kModalCancel;
  }
  wnd.CenterWindow();
  settingsWnd_ = &wnd;
  const int result = wnd.ShowModal();
  settingsWnd_ = nullptr;
  return result;
}

// The settings window is open: the user is shown the window in front. From
// the settings window's own page it comes forward on the page asked for;
// over its folder picker or its selective synchronisation window the user
// is asked to close that first. A log-off asks to close the settings window.
void COrlinFrameWnd::PointAtOpenSettings(bool logOff, int origin) {
  if (!settingsWnd_) {
    if (logOff) Ask(L"Btn_State_SettingWnd");
    return;
  }
  switch (settingsWnd_->ChildState()) {
    case CSettingWnd::kFolderPicker:
      AskOver(settingsWnd_, L"Btn_State_SyncDir");
      break;
    case CSettingWnd::kSelectiveSync:
      AskOver(settingsWnd_->ChildWindow() ? settingsWnd_->ChildWindow() : settingsWnd_, L"Btn_State_Ignore");
      break;
    default:
      if (logOff) {
        AskOver(settingsWnd_, L"Btn_State_SettingWnd");
      } else {
        // The values the user is editing stay as they are.
        settingsWnd_->SelectTab(origin);
        settingsWnd_->ShowWindowCommand(dui::kSwShowNormal);
        settingsWnd_->BringWindowToTop();
      }
      break;
  }
}

// On a worker: the controller applies the confirmed record; afterwards the
// window shows what the controller holds (a refused value is the old one).
void COrlinFrameWnd::ApplyConfirmedSettings() {
  if (!controller_ || applyRunning_.exchange(true)) return;
  Controller* controller = controller_.get();
  const SyncSettings confirmed = settings_;
  RunWorker([controller, confirmed](std::stop_token) { controller->ApplySettings(confirmed); },
            [this] {
              applyRunning_ = false;
              if (!controller_ || exiting_) return;
              const std::wstring language = settings_.language;
              settings_ = controller_->Settings();
              if (settings_.language.empty()) settings_.language = language;
              PublishSettings();
              SetText(L"SYNCFOLDERPATHLABEL", settings_.syncFolderPath);
              std::uint32_t ex = GetExStyle();
              ex = settings_.hideFromTaskbar ? (ex & ~dui::kWsExAppWindow) | dui::kWsExToolWindow
                                             : (ex & ~dui::kWsExToolWindow) | dui::kWsExAppWindow;
              SetExStyle(ex);
              ApplyFolderTypeLook(false);
            });
}

bool COrlinFrameWnd::TakeOverFolder(const std::wstring& from, const std::wstring& to) {
  Controller* controller = controller_.get();
  return controller != nullptr && CopyFolderWithWindow(*controller, this, from, to);
}

void COrlinFrameWnd::SetLanguage(const std::wstring& language) {
  if (controller_) controller_->SetLanguage(language);
}

void COrlinFrameWnd::RestoreTexts() {
  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  resources.ReloadText();
}

int COrlinFrameWnd::Ask(const std::wstring& key) {
  return services_.presenter ? services_.presenter->ShowMessage(L"Orlin", key, false) : kModalOk;
}

int COrlinFrameWnd::AskOver(dui::WindowImplBase* owner, const std::wstring& key) {
  return services_.showOver ? services_.showOver(owner, key) : Ask(key);
}

// ------------------------------------------------------------ log-off, exit

void COrlinFrameWnd::LogOff() {
  if (!controller_ || loggingOff_ || exiting_) return;
  if (settingsOpen_) {
    PointAtOpenSettings(true, 0);
    return;
  }
  // A busy command's worker (or a settings apply) still uses this controller.
  if (operationRunning_ || applyRunning_) return;
  if (Ask(L"Cloud_LogOff_Msg") != kModalOk) return;
  loggingOff_ = true;
  operationRunning_ = true;
  Controller* controller = controller_.get();
  auto loggedOff = std::make_shared<bool>(false);
  RunWorker(
      [this, controller, loggedOff](std::stop_token) {
        StopDataThread();
        *loggedOff = controller->LogOff();
      },
      [this, loggedOff] {
        operationRunning_ = false;
        loggingOff_ = false;
        if (*loggedOff && lists_) lists_->HideAll();
        if (exiting_) return;
        if (restartPending_) {
          Restart();
        } else {
          // Nothing was undone: the lists and the engine check go on.
          StartDataThread();
        }
      });
}

void COrlinFrameWnd::Exit() {
  if (exiting_.exchange(true)) return;
  Controller* controller = controller_.get();
  RunWorker(
      [this, controller](std::stop_token) {
        // The data thread goes first: its engine check would otherwise start
        // the engine again right after it was stopped.
        StopDataThread();
        if (controller) {
          controller->StopSync();
          controller->StopEngines();
        }
        EndWatchdogs();
      },
      [this] { PostMessageW(dui::kWmDestroy); });
}

// Ends every watchdog, a few rounds at most: one that may not be ended
// must not hold up the exit.
void COrlinFrameWnd::EndWatchdogs() {
  if (!services_.processes) return;
  for (int round = 0; round < 5; ++round) {
    auto table = services_.processes->Scan();
    if (!table) return;
    bool found = false;
    for (const auto& entry : *table) {
      const std::wstring image = Lower(entry.imageName);
      for (const auto& name : services_.watchdogNames) {
        if (image == Lower(name)) {
          found = true;
          services_.processes->Terminate(entry.pid, 9);
        }
      }
    }
    if (!found) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// ------------------------------------------------------------ language, DPI

void COrlinFrameWnd::SwitchLanguage(bool chinese) {
  const std::wstring language = chinese ? L"zh_cn" : L"en";
  auto& resources = CResourceManager::GetInstance();
  resources.SetLanguage(language);
  resources.SetTextQueryInterface(this);
  resources.ReloadText();
  settings_.language = language;
  PublishSettings();
  ApplyFolderTypeLook(false);
  RelayoutNudge();
  // An open updater window changes its texts with the program.
  platform::MainWindowQuery updater{kUpdaterWindowClass, kUpdaterWindowTitle, L"", services_.installDir,
                                    kUpdaterWindowChannel};
  if (auto link = platform::FindMainWindow(updater)) link->SendWindowMessage(kMsgLanguageChanged, chinese ? 1 : 0, 0);
  if (lists_) lists_->OnLanguageChanged();
}

int COrlinFrameWnd::GetDpi() const { return dpi_.load(); }

void COrlinFrameWnd::SetDpi(int dpi, int notify) {
  if (controller_) controller_->SetDpi(dpi, notify != 0);
}

void COrlinFrameWnd::SetUpDpi() {
  int dpi = services_.screenDpi ? services_.screenDpi() : 96;
  if (dpi <= 0) dpi = 96;
  dpi = std::min(dpi, kMaxDpi);
  if (dpi != dpi_.load()) ApplyDpi(dpi);
}

void COrlinFrameWnd::ApplyDpi(int dpi) {
  if (dpi <= 0) dpi = 96;
  dpi = std::min(dpi, kMaxDpi);
  ApplyDPI(dpi);
  dpi_ = dpi;
  settings_.dpi = dpi;
  // Before the controller is ready its settings are still being read; the
  // start-up applies the stored DPI and stores what it applies afterwards.
  if (controller_ && controller_->IsReady()) controller_->SetDpi(dpi, false);
  // The caption band from the skin's, so repeated changes do not compound.
  const int scale = pm_.GetDPIObj()->GetScale();
  pm_.SetCaptionRect(dui::Rect{skinCaption_.left, skinCaption_.top, skinCaption_.right * scale / 100,
                               skinCaption_.bottom * scale / 100});
}

void COrlinFrameWnd::RelayoutNudge() {
  pm_.NeedUpdate();
  auto* native = GetHWND();
  if (!native) return;
  dui::Rect r = native->GetRect();
  dui::Rect nudged = r;
  nudged.right += IsZoomed() ? -1 : 1;
  native->SetRect(nudged);
  native->SetRect(r);
}

// ------------------------------------------------------------ threads

void COrlinFrameWnd::RunWorker(std::function<void(std::stop_token)> work, std::function<void()> done) {
  std::lock_guard lock(workersMutex_);
  const std::uint64_t id = nextWorker_++;
  workers_.emplace(id, std::jthread([this, id, work = std::move(work), done = std::move(done)](
                                        std::stop_token stop) mutable {
                     work(stop);
                     {
                       std::lock_guard done_lock(workersMutex_);
                       completions_.push_back(Completion{id, std::move(done)});
                     }
                     // Hop: the completion runs on the UI thread.
                     PostMessageW(kMsgWorkerDone);
                   }));
}

void COrlinFrameWnd::HandleCompletions() {
  for (;;) {
    Completion completion;
    std::jthread worker;
    {
      std::lock_guard lock(workersMutex_);
      if (completions_.empty()) return;
      completion = std::move(completions_.front());
      completions_.pop_front();
      auto it = workers_.find(completion.worker);
      if (it != workers_.end()) {
        worker = std::move(it->second);
        workers_.erase(it);
      }
    }
    // The worker has handed its completion over and only returns now.
    if (worker.joinable()) worker.join();
    if (completion.done) completion.done();
  }
}

int COrlinFrameWnd::RunningWorkers() const {
  std::lock_guard lock(workersMutex_);
  return static_cast<int>(workers_.size());
}

void COrlinFrameWnd::StartDataThread() {
  if (exiting_ || loggingOff_ || !controller_) return;
  Controller* controller = controller_.get();
  std::lock_guard lock(stateMutex_);
  if (dataThread_.joinable()) return;
  dataThread_ = std::jthread([this, controller](std::stop_token stop) { DataLoop(stop, controller); });
}

void COrlinFrameWnd::StopDataThread() {
  std::jthread thread;
  {
    std::lock_guard lock(stateMutex_);
    thread = std::move(dataThread_);
  }
  if (!thread.joinable()) return;
  {
    std::lock_guard lock(dataSleepMutex_);
    thread.request_stop();
  }
  dataSleep_.notify_all();
  thread.join();
}

bool COrlinFrameWnd::IsDataThreadRunning() const {
  std::lock_guard lock(stateMutex_);
  return dataThread_.joinable();
}

void COrlinFrameWnd::WakeDataThread() {
  {
    std::lock_guard lock(dataSleepMutex_);
    ++dataWanted_;
  }
  dataSleep_.notify_all();
}

void COrlinFrameWnd::DataLoop(std::stop_token stop, Controller* controller) {
  // Hop: the bell rings on the poller's thread; it only wakes this one, and
  // only for the list shown (or anything else that calls for a pass).
  controller->Status().changeBell.SetListener([this](const void* what) {
    const void* interest = listOfInterest_.load();
    if (what == nullptr || interest == nullptr || what == interest) WakeDataThread();
  });
  while (!stop.stop_requested()) {
    const bool onScreen = onScreen_.load();
    std::uint64_t wanted = 0;
    {
      std::lock_guard lock(dataSleepMutex_);
      wanted = dataWanted_;
    }
    if (lists_) lists_->DataPass();
    // An engine that died (or was killed) is started again here. One that
    // cannot be started is retried only until the thread is asked to stop,
    // so an exit or a log-off is not held up by it.
    controller->EnsureEngineRunning(stop);
    std::chrono::milliseconds pause = lists_ ? lists_->PassInterval() : std::chrono::milliseconds(100);
    if (!onScreen) pause = std::max<std::chrono::milliseconds>(pause, kHiddenDataPass);
    // Asked before the lock: the lists' lock is also held by the UI thread
    // while it wakes this thread.
    const bool quiet = onScreen && lists_ && lists_->FilledOnlyWhenChanged();
    listOfInterest_.store(lists_ ? lists_->ListOfInterest() : nullptr);
    std::unique_lock lock(dataSleepMutex_);
    dataSleep_.wait_for(lock, pause, [&] { return stop.stop_requested() || onScreen_.load() != onScreen; });
    if (quiet && pause < kQuietDataPass) {
      dataSleep_.wait_for(lock, kQuietDataPass - pause, [&] {
        return stop.stop_requested() || onScreen_.load() != onScreen || dataWanted_ != wanted;
      });
    }
  }
  controller->Status().changeBell.SetListener({});
}

}  // namespace orlin
