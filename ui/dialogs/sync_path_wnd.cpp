#include "ui/dialogs/sync_path_wnd.h"

#include <system_error>

#include "common/text.h"
#include "ui/dialogs/login_texts.h"
#include "ui/dialogs/window_message_presenter.h"
#include "ui/dui/find_control.h"

namespace orlin {

using namespace dui;

namespace {

constexpr wchar_t kTitle[] = L"Orlin";
constexpr wchar_t kInvalidDirectoryMsg[] = L"Invalid_directory_Msg";
constexpr wchar_t kSyncPathInvalidMsg[] = L"SyncPath_Invalid_Msg";
constexpr wchar_t kPathUsedMsg[] = L"Path_Used_Msg";

// A folder the engine can sync: an absolute path naming an existing
// directory. A relative path would be taken from the engine's own working
// directory, and a file cannot hold the account's files.
bool IsUsableFolder(const std::wstring& path) {
  const std::filesystem::path p = PathFromWide(path);
  if (!p.is_absolute()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(p, ec);
}

}  // namespace

CSyncPathWnd::CSyncPathWnd(const SyncSettings& record, Controller& controller, SyncFolderRules& rules,
                           std::wstring userName, MessagePresenter* presenter)
    : record_(record),
      controller_(controller),
      rules_(rules),
      userName_(std::move(userName)),
      host_(controller),
      presenter_(presenter) {
  if (!presenter_) {
    ownPresenter_ = std::make_unique<WindowMessagePresenter>(&host_, this);
    presenter_ = ownPresenter_.get();
  }
}

CSyncPathWnd::~CSyncPathWnd() { CResourceManager::GetInstance().RemoveTextQueryInterface(this); }

void CSyncPathWnd::ApplyDpiAndCaption(int dpi) {
  ApplyDPI(dpi);
  // Single precision and truncation, as every window scales its caption.
  const float scale = static_cast<float>(pm_.GetDPIObj()->GetScale());
  Rect caption = pm_.GetCaptionRect();
  caption.right = static_cast<int>(static_cast<float>(captionRight_) * scale / 100.0f);
  caption.bottom = static_cast<int>(static_cast<float>(kCaptionHeight) * scale / 100.0f);
  pm_.SetCaptionRect(caption);
}

void CSyncPathWnd::InitWindow() {
  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  resources.SetLanguage(record_.language);
  resources.ReloadText();

  if (auto* edit = FindControlAs<CEditUI>(pm_, L"SYNCPOSEDIT")) edit->SetText(record_.syncFolderPath);
  // Offered as the default each time, whatever the record said before.
  if (auto* option = FindControlAs<COptionUI>(pm_, L"SETDEFAULTLOCATION")) option->Selected(true, true);

  captionRight_ = pm_.GetCaptionRect().right;
  const int dpi = controller_.Settings().dpi;
  ApplyDpiAndCaption(dpi > 0 ? dpi : 96);
}

std::optional<std::wstring> CSyncPathWnd::QueryControlText(const std::wstring& id, const std::wstring&) {
  return SyncPathTextTable().Find(id, CResourceManager::GetInstance().GetLanguage());
}

void CSyncPathWnd::Show(const wchar_t* key) { presenter_->ShowMessage(kTitle, key, false); }

void CSyncPathWnd::Ok() {
  auto* edit = FindControlAs<CEditUI>(pm_, L"SYNCPOSEDIT");
  if (!edit) {
    Close(kModalOk);
    return;
  }
  const std::wstring path = NormalizeFolderPath(edit->GetText());
  if (path.empty()) {
    Show(kInvalidDirectoryMsg);
    return;
  }
  if (!IsUsableFolder(path)) {
    Show(kSyncPathInvalidMsg);
    return;
  }
  // A typed path is checked like a picked one: two accounts syncing one
  // folder would hand each other's files to both servers.
  if (rules_.TakenByAnotherAccount(path, userName_)) {
    Show(kPathUsedMsg);
    return;
  }
  record_.syncFolderPath = path;
  auto* option = FindControlAs<COptionUI>(pm_, L"SETDEFAULTLOCATION");
  record_.defaultLocation = option != nullptr && option->IsSelected();
  Close(kModalOk);
}

void CSyncPathWnd::Browse() {
  auto backend = UiBackend::Current();
  if (!backend) return;
  const std::wstring title =
      SyncPathTextTable().Find(L"Sync_title", CResourceManager::GetInstance().GetLanguage()).value_or(L"Orlin");
  auto picked = backend->BrowseForFolder(GetHWND(), title, PathFromWide(record_.syncFolderPath));
  if (!picked) return;
  const std::wstring path = NormalizeFolderPath(WideFromPath(*picked));
  record_.syncFolderPath = path;
  if (rules_.TakenByAnotherAccount(path, userName_)) {
    Show(kPathUsedMsg);
    return;
  }
  if (auto* edit = FindControlAs<CEditUI>(pm_, L"SYNCPOSEDIT")) edit->SetText(path);
}

void CSyncPathWnd::Notify(TNotifyUI& msg) {
  if (msg.sType != kEventClick || !msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"CLOSEBTN" || name == L"CANCELBTN") Close(kModalCancel);
  else if (name == L"OKBTN") PostMessageW(kMsgOk, 0, 0);
  else if (name == L"SYNCPOSBTN") PostMessageW(kMsgBrowse, 0, 0);
}

std::intptr_t CSyncPathWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t, bool& handled) {
  if (msg == kMsgOk || msg == kMsgBrowse) {
    handled = true;
    // A second click may have queued the same step after the window ended.
    if (!IsWindow()) return 0;
    if (msg == kMsgOk) Ok();
    else Browse();
    return 0;
  }
  if (msg != kWmDpiChanged) return 0;
  handled = true;
  int dpi = static_cast<int>(wParam & 0xFFFF);
  if (dpi > kMaxDpi) dpi = kMaxDpi;
  ApplyDpiAndCaption(dpi);
  controller_.SetDpi(dpi, false);
  return 0;
}

}  // namespace orlin
