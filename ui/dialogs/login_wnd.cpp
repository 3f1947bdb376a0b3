#include "ui/dialogs/login_wnd.h"

#include <system_error>

#include "common/text.h"
#include "common/window_messages.h"
#include "ui/dialogs/login_texts.h"
#include "ui/dialogs/message_table.h"
#include "ui/dialogs/sync_path_wnd.h"
#include "ui/dialogs/window_message_presenter.h"
#include "ui/dui/find_control.h"

namespace orlin {

using namespace dui;

namespace {

bool IsBlank(const std::wstring& text) { return text.find_first_not_of(L" \t") == std::wstring::npos; }

// A folder the login may use without asking: an absolute path naming an
// existing directory.
bool IsUsableFolder(const std::wstring& path) {
  if (path.empty()) return false;
  const std::filesystem::path p = PathFromWide(path);
  std::error_code ec;
  return p.is_absolute() && std::filesystem::is_directory(p, ec);
}

}  // namespace

CLoginWnd::CLoginWnd(Controller& controller, SyncFolderRules* rules, MessagePresenter* presenter)
    : controller_(controller),
      host_(controller),
      presenter_(presenter),
      rules_(rules),
      fields_{{L"IPEDIT", L"IPURL_Edit", &server_, false},
              {L"USERNAMEEDIT", L"UserName_Edit", &userName_, false},
              {L"PASSWORDEDIT", L"Password_Edit", &password_, true}} {
  if (!presenter_) {
    ownPresenter_ = std::make_unique<WindowMessagePresenter>(&host_, this);
    presenter_ = ownPresenter_.get();
  }
  if (!rules_) {
    ownRules_ = std::make_unique<UserConfigFolderRules>(InstallLayout{CPaintManagerUI::GetInstancePath()}, *presenter_);
    rules_ = ownRules_.get();
  }
}

CLoginWnd::~CLoginWnd() {
  // The worker uses this window to the end of its attempt.
  if (worker_.joinable()) worker_.join();
  languageMenu_.reset();
  CResourceManager::GetInstance().RemoveTextQueryInterface(this);
}

void CLoginWnd::ApplyDpiAndCaption(int dpi) {
  ApplyDPI(dpi);
  // Single precision and truncation, as every window scales its caption.
  const float scale = static_cast<float>(pm_.GetDPIObj()->GetScale());
  Rect caption = pm_.GetCaptionRect();
  caption.right = static_cast<int>(static_cast<float>(captionRight_) * scale / 100.0f);
  caption.bottom = static_cast<int>(static_cast<float>(kCaptionHeight) * scale / 100.0f);
  pm_.SetCaptionRect(caption);
}

void CLoginWnd::InitWindow() {
  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  settings_.language = ReadLanguage(CPaintManagerUI::GetInstancePath());
  resources.SetLanguage(settings_.language);

  // The folder the engine configuration names is the proposal for a new
  // account; the DPI is the one of setting.xml.
  const SyncSettings current = controller_.ReloadSettings();
  settings_.syncFolderPath = current.syncFolderPath;
  settings_.dpi = current.dpi > 0 ? current.dpi : 96;

  captionRight_ = pm_.GetCaptionRect().right;
  ApplyDpiAndCaption(settings_.dpi);
  resources.ReloadText();
  SetCodeTexts();
}

std::optional<std::wstring> CLoginWnd::QueryControlText(const std::wstring& id, const std::wstring&) {
  return LoginTextTable().Find(id, CResourceManager::GetInstance().GetLanguage());
}

// --- the edit fields ------------------------------------------------------------

const CLoginWnd::Field* CLoginWnd::FieldOf(const CControlUI* control) {
  if (!control) return nullptr;
  for (const Field& f : fields_) {
    if (control->GetName() == f.control) return &f;
  }
  return nullptr;
}

// --- titles and language --------------------------------------------------------

void CLoginWnd::SetCodeTexts() {
  const std::wstring title = LoginWindowTitle(settings_.language);
  SetWindowTitle(title);
  if (auto* label = FindControlAs<CLabelUI>(pm_, L"LOGINTITLE")) label->SetText(title);
  if (auto* button = FindControlAs<CButtonUI>(pm_, L"LANGUAGEBTN")) button->SetText(LanguageName(settings_.language));
  // The fields' hints, shown while a field is empty and never its value.
  for (const Field& field : fields_) {
    if (auto* edit = FindControlAs<CEditUI>(pm_, field.control)) {
      edit->SetPromptText(LoginTextTable().Find(field.textId, settings_.language).value_or(L""));
    }
  }
}

void CLoginWnd::SwitchLanguage(const std::wstring& language) {
  if (attemptRunning_) return;
  settings_.language = language;
  auto& resources = CResourceManager::GetInstance();
  resources.SetLanguage(language);
  resources.SetTextQueryInterface(this);
  resources.ReloadText();

  // One pixel wider and back: the window lays its new texts out at once.
  if (NativeWindow* native = GetHWND()) {
    const Rect r = native->GetRect();
    native->SetRect(Rect{r.left, r.top, r.right + 1, r.bottom});
    native->SetRect(r);
  }
  pm_.NeedUpdate();
  SetCodeTexts();
  controller_.SetLanguage(language);
  // Storing the language tells the main window, which makes itself the text
  // provider and reloads every window with its own table: this window's
  // texts come back from its table while it is open.
  resources.SetTextQueryInterface(this);
  resources.ReloadText();
}

void CLoginWnd::OpenLanguageMenu() {
  languageMenu_.reset();
  auto backend = UiBackend::Current();
  if (!backend) return;
  auto menu = std::make_unique<CMenuWnd>();
  if (!menu->Init(nullptr, L"menu.xml", backend->GetCursorPos(), &pm_, nullptr,
                  CMenuWnd::kAlignLeft | CMenuWnd::kAlignBottom)) {
    return;
  }
  if (CMenuUI* items = menu->GetMenuUI()) {
    auto* english = CMenuWnd::NewTextElement(L"LANG_ENGLISH", kEnglishMenuText);
    auto* chinese = CMenuWnd::NewTextElement(L"LANG_CHINESE", kChineseMenuText);
    items->Add(english);
    items->Add(chinese);
    CMenuElementUI* current = settings_.language == kLanguageEnglish   ? english
                              : settings_.language == kLanguageChinese ? chinese
                                                                      : nullptr;
    if (current) current->SetIcon(L"res\\common\\menu_check.png", Size{9, 9});
    menu->ResizeMenu();
  }
  languageMenu_ = std::move(menu);
}

void CLoginWnd::CloseRequested() {
  // The program ends through the main window's exit path when it exists.
  if (WindowImplBase* main = WindowImplBase::FindWindow(kMainWindowClass, kMainWindowTitle)) {
    main->PostMessageW(kMsgQuit, 0, 0);
  } else if (auto backend = UiBackend::Current()) {
    backend->QuitMessageLoop();
  }
  // The modal run ends too, so whoever waits for it is not left waiting.
  Close(kModalCancel);
}

// --- notifications and messages -------------------------------------------------

void CLoginWnd::Notify(TNotifyUI& msg) {
  if (!msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  if (msg.sType == kEventClick) {
    if (name == L"MINIBTN") ShowWindowCommand(kSwMinimize);
    else if (name == L"CLOSEBTN") CloseRequested();
    else if (name == L"LOGINBTN") StartAttempt(AttemptForm::kButton);
    else if (name == L"LANGUAGEBTN") PostMessageW(kMsgOpenLanguageMenu, 0, 0);
    return;
  }
  if (msg.sType == kEventReturn) {
    StartAttempt(AttemptForm::kKey);
    return;
  }
  if (msg.sType == kEventTextChanged) {
    const Field* field = FieldOf(msg.pSender);
    if (field) *field->value = msg.pSender->GetText();
  }
}

std::intptr_t CLoginWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t, bool& handled) {
  switch (msg) {
    case kMsgAttemptEnded:
      handled = true;
      AttemptEnded();
      return 0;
    case kMsgOpenLanguageMenu:
      handled = true;
      if (!attemptRunning_) OpenLanguageMenu();
      return 0;
    case kWmMenuCommand: {
      handled = true;
      auto* cmd = reinterpret_cast<MenuCmd*>(wParam);
      if (!cmd) return 0;
      const std::wstring item = cmd->szName;
      CPaintManagerUI::DeletePtr(cmd);
      if (item == L"LANG_ENGLISH") SwitchLanguage(kLanguageEnglish);
      else if (item == L"LANG_CHINESE") SwitchLanguage(kLanguageChinese);
      return 0;
    }
    case kWmDpiChanged: {
      handled = true;
      int dpi = static_cast<int>(wParam & 0xFFFF);
      if (dpi > kMaxDpi) dpi = kMaxDpi;
      settings_.dpi = dpi;
      ApplyDpiAndCaption(dpi);
      controller_.SetDpi(dpi, false);
      return 0;
    }
    default:
      return 0;
  }
}

// --- the login attempt ----------------------------------------------------------

void CLoginWnd::StartAttempt(AttemptForm form) {
  if (attemptRunning_) return;
  auto* button = FindControlAs<CButtonUI>(pm_, L"LOGINBTN");
  if (!button) return;
  loginButtonColor_ = button->GetBkColor();
  button->SetBkColor(kBusyButtonColor);
  button->SetEnabled(false);
  button->Invalidate();
  EnableWindow(false);
  attemptRunning_ = true;

  // The worker of the last attempt has posted its end and is gone or going.
  if (worker_.joinable()) worker_.join();
  Attempt attempt{form, server_, userName_, password_, settings_};
  worker_ = std::jthread([this, attempt = std::move(attempt)]() mutable { RunAttempt(std::move(attempt)); });
}

void CLoginWnd::RunAttempt(Attempt attempt) {
  AttemptResult result;
  result.form = attempt.form;
  auto finish = [this, &result] {
    {
      std::lock_guard lock(resultMutex_);
      result_ = result;
    }
    // Hop: the window's controls change on its message thread.
    PostMessageW(kMsgAttemptEnded, 0, 0);
  };

  // An empty field would only be refused by the server (or be no address at
  // all): the login fails here, naming the field, and nothing is sent.
  for (const Field& field : fields_) {
    const std::wstring& value = field.value == &server_     ? attempt.server
                                : field.value == &userName_ ? attempt.userName
                                                            : attempt.password;
    const bool empty = field.password ? value.empty() : IsBlank(value);
    if (!empty) continue;
    const std::wstring label = LoginTextTable().Find(field.textId, attempt.settings.language).value_or(L"");
    presenter_->ShowLoginFailure(L" (" + label + L")", false);
    finish();
    return;
  }

  // The folder: a user who keeps a default location is not asked again,
  // as long as that folder is still there.
  const std::optional<UserEntry> saved = rules_->SavedLocation(attempt.userName);
  if (saved && saved->isDefault && IsUsableFolder(saved->path)) {
    result.syncFolder = saved->path;
    result.makeDefault = true;
  } else {
    SyncSettings proposal = attempt.settings;
    if (saved && IsUsableFolder(saved->path)) proposal.syncFolderPath = saved->path;
    CSyncPathWnd folderWnd(proposal, controller_, *rules_, attempt.userName, ownPresenter_ ? nullptr : presenter_);
    const std::wstring title =
        SyncPathTextTable().Find(L"Sync_title", proposal.language).value_or(L"Orlin");
    int chosen = -1;
    if (folderWnd.Create(saved ? nullptr : this, title, CSyncPathWnd::kStyle, kWsExTopmost, 0, 0)) {
      folderWnd.CenterWindow();
      chosen = folderWnd.ShowModal();
    }
    if (chosen != kModalOk) {
      finish();
      return;
    }
    result.syncFolder = folderWnd.Result().syncFolderPath;
    result.makeDefault = folderWnd.Result().defaultLocation;
  }
  result.folderChosen = true;

  // Failures are shown by the controller's presenter; nothing is written.
  const LoginRequest request{attempt.server, attempt.userName, attempt.password, result.syncFolder,
                             result.makeDefault};
  result.loggedIn = controller_.Login(request).result == 1;
  finish();
}

void CLoginWnd::AttemptEnded() {
  AttemptResult result;
  {
    std::lock_guard lock(resultMutex_);
    result = result_;
  }
  if (result.loggedIn) {
    attemptRunning_ = false;
    Close(kModalOk);
    return;
  }
  if (result.folderChosen) {
    settings_.syncFolderPath = result.syncFolder;
    settings_.defaultLocation = result.makeDefault;
  }
  // The sync folder window was the text provider while it was open.
  auto& resources = CResourceManager::GetInstance();
  resources.SetLanguage(settings_.language);
  resources.SetTextQueryInterface(this);
  resources.ReloadText();

  auto* button = FindControlAs<CButtonUI>(pm_, L"LOGINBTN");
  if (button) {
    button->SetBkColor(loginButtonColor_);
    button->SetEnabled(true);
  }
  EnableWindow(true);
  attemptRunning_ = false;
  if (!button) return;
  if (result.form == AttemptForm::kButton) {
    // The pointer is still over the button it pressed: its hover look comes
    // back without waiting for the next move.
    const Rect pos = button->GetPos();
    PostMessageW(kWmMouseMove, 0, MakePointLParam(Point{pos.left, pos.top}));
  } else {
    button->Invalidate();
  }
}

int RunLogin(Controller& controller) {
  CLoginWnd wnd(controller);
  const std::wstring language = ReadLanguage(CPaintManagerUI::GetInstancePath());
  if (!wnd.Create(nullptr, LoginWindowTitle(language), CLoginWnd::kStyle, kWsExTopmost, 0, 0)) return -1;
  wnd.CenterWindow();
  return wnd.ShowModal();
}

}  // namespace orlin
