#include "ui/dialogs/settings_wnd.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <system_error>

#include "app/store/ini_file.h"
#include "common/text.h"
#include "platform/file_copy.h"
#include "ui/dialogs/ignoring_wnd.h"
#include "ui/dialogs/settings_texts.h"
#include "ui/dialogs/sync_folder_rules.h"
#include "ui/dialogs/window_message_presenter.h"
#include "ui/dui/find_control.h"

namespace orlin {

using namespace dui;

namespace {

constexpr wchar_t kTitle[] = L"Orlin";

// The product name of the About page: Orlin.ini of the current directory,
// or the one the installer put beside the program.
std::wstring ProductName() {
  for (const std::filesystem::path& file :
       {std::filesystem::path("Orlin.ini"), CPaintManagerUI::GetInstancePath() / "Orlin.ini"}) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) continue;
    if (auto ini = IniDocument::Load(file)) return Utf8ToWide(ProductDisplayName(*ini));
  }
  return {};
}

}  // namespace

CSettingWnd::CSettingWnd(SyncSettings& record, Controller& controller, int initialTab, MessagePresenter* presenter)
    : record_(record), controller_(controller), initialTab_(initialTab), host_(controller), presenter_(presenter) {
  if (!presenter_) {
    ownPresenter_ = std::make_unique<WindowMessagePresenter>(&host_, this);
    presenter_ = ownPresenter_.get();
  }
}

CSettingWnd::~CSettingWnd() { CResourceManager::GetInstance().RemoveTextQueryInterface(this); }

std::wstring CSettingWnd::IgnoreCountText(int count) { return L"( " + std::to_wstring(count) + L" )"; }

int CSettingWnd::CountIgnoreLines(const std::wstring& ignoreText) {
  int count = 0;
  std::size_t start = 0;
  while (start <= ignoreText.size()) {
    std::size_t end = ignoreText.find(L'\n', start);
    if (end == std::wstring::npos) end = ignoreText.size();
    if (end > start) ++count;
    start = end + 1;
  }
  return count;
}

std::int32_t CSettingWnd::ParseLimit(const std::wstring& text) {
  std::int64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    value = value * 10 + (c - L'0');
    // Beyond the largest limit the engine keeps, the number stays there.
    if (value > INT32_MAX) return INT32_MAX;
  }
  return static_cast<std::int32_t>(value);
}

void CSettingWnd::TakeTextsBack() {
  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  resources.SetLanguage(record_.language);
  resources.ReloadText();
}

void CSettingWnd::ApplyDpi(int dpi) {
  const auto* found = std::find(std::begin(kDpiList), std::end(kDpiList), dpi);
  if (found == std::end(kDpiList)) return;
  if (auto* combo = FindControlAs<CComboUI>(pm_, L"DPI_COMBO")) {
    combo->SelectItem(static_cast<int>(found - std::begin(kDpiList)), false);
  }
  ApplyDPI(dpi);
  const float scale = static_cast<float>(pm_.GetDPIObj()->GetScale());
  Rect caption = pm_.GetCaptionRect();
  caption.right = static_cast<int>(static_cast<float>(skinCaption_.right) * scale / 100.0f);
  caption.bottom = static_cast<int>(static_cast<float>(skinCaption_.bottom) * scale / 100.0f);
  pm_.SetCaptionRect(caption);
}

void CSettingWnd::InitWindow() {
  TakeTextsBack();
  skinCaption_ = pm_.GetCaptionRect();
  SelectTab(initialTab_);
  LoadFromRecord();
  ApplyDpi(record_.dpi);
  if (auto* version = FindControlAs<CLabelUI>(pm_, L"VERSION_LABEL2")) version->SetText(ProductName());
}

void CSettingWnd::SelectTab(int tab) {
  if (tab < 0 || tab > 2) tab = 0;
  if (auto* pages = FindControlAs<CTabLayoutUI>(pm_, L"TAB_SWITCH")) pages->SelectItem(tab);
  static const wchar_t* const kTabs[] = {L"GENERAL_TAB", L"ORLIN_TAB", L"ABOUT_TAB"};
  if (auto* option = FindControlAs<COptionUI>(pm_, kTabs[tab])) option->Selected(true, true);
}

void CSettingWnd::LoadFromRecord() {
  if (auto* c = FindControlAs<CComboUI>(pm_, L"LANG_COMBO")) c->SelectItem(record_.language == L"en" ? 0 : 1, false);
  if (auto* c = FindControlAs<COptionUI>(pm_, L"AUTOSTART_OPTION")) c->Selected(record_.autostart, true);
  if (auto* c = FindControlAs<COptionUI>(pm_, L"COMPUTERSHOW_OPTION")) c->Selected(record_.showInMyComputer, true);
  if (auto* c = FindControlAs<COptionUI>(pm_, record_.hideFromTaskbar ? L"TRAY_OPTION" : L"TASK_OPTION")) {
    c->Selected(true, true);
  }
  shownFolder_ = record_.syncFolderPath;
  if (auto* c = FindControlAs<CEditUI>(pm_, L"SYNCPOSEDIT")) c->SetText(record_.syncFolderPath);
  if (auto* c = FindControlAs<COptionUI>(pm_, L"SETDEFAULTLOCATION")) c->Selected(record_.defaultLocation, true);
  if (auto* c = FindControlAs<CEditUI>(pm_, L"DOWNLOADEEDIT")) c->SetText(std::to_wstring(record_.receiveLimit));
  if (auto* c = FindControlAs<CEditUI>(pm_, L"UPLOADEEDIT")) c->SetText(std::to_wstring(record_.sendLimit));
  if (auto* c = FindControlAs<CComboUI>(pm_, L"FILETYPE_COMBO")) c->SelectItem(record_.folderType, false);
  if (auto* c = FindControlAs<CComboUI>(pm_, L"FILEPULLORDER_COMBO")) c->SelectItem(record_.pullOrder, false);
  if (auto* c = FindControlAs<CComboUI>(pm_, L"VERSIONS_COMBO")) c->SelectItem(record_.versionsKept, false);
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"FILESFOLDERSLABEL")) {
    c->SetText(IgnoreCountText(CountIgnoreLines(record_.ignoreText)));
  }
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"DEVICEID_LABEL2")) c->SetText(record_.deviceId);
}

// Everything the controls hold, into the record. A combo without a selection
// (a value the skin does not list) leaves the record's value as it was.
void CSettingWnd::Collect() {
  if (auto* c = FindControlAs<COptionUI>(pm_, L"AUTOSTART_OPTION")) record_.autostart = c->IsSelected();
  if (auto* c = FindControlAs<COptionUI>(pm_, L"COMPUTERSHOW_OPTION")) record_.showInMyComputer = c->IsSelected();
  if (auto* c = FindControlAs<CComboUI>(pm_, L"LANG_COMBO"); c && c->GetCurSel() >= 0) {
    record_.language = c->GetCurSel() == 0 ? L"en" : L"zh_cn";
  }
  if (auto* c = FindControlAs<COptionUI>(pm_, L"TASK_OPTION")) record_.hideFromTaskbar = !c->IsSelected();
  if (auto* c = FindControlAs<CComboUI>(pm_, L"DPI_COMBO"); c && c->GetCurSel() >= 0 && c->GetCurSel() < 5) {
    record_.dpi = kDpiList[c->GetCurSel()];
  }
  if (auto* c = FindControlAs<CEditUI>(pm_, L"SYNCPOSEDIT")) record_.syncFolderPath = NormalizeFolderPath(c->GetText());
  if (auto* c = FindControlAs<COptionUI>(pm_, L"SETDEFAULTLOCATION")) record_.defaultLocation = c->IsSelected();
  if (auto* c = FindControlAs<CEditUI>(pm_, L"DOWNLOADEEDIT")) record_.receiveLimit = ParseLimit(c->GetText());
  if (auto* c = FindControlAs<CEditUI>(pm_, L"UPLOADEEDIT")) record_.sendLimit = ParseLimit(c->GetText());
  if (auto* c = FindControlAs<CComboUI>(pm_, L"FILETYPE_COMBO"); c && c->GetCurSel() >= 0) {
    record_.folderType = c->GetCurSel();
  }
  if (auto* c = FindControlAs<CComboUI>(pm_, L"FILEPULLORDER_COMBO"); c && c->GetCurSel() >= 0) {
    record_.pullOrder = c->GetCurSel();
  }
  if (auto* c = FindControlAs<CComboUI>(pm_, L"VERSIONS_COMBO"); c && c->GetCurSel() >= 0) {
    record_.versionsKept = c->GetCurSel();
  }
}

std::optional<std::wstring> CSettingWnd::QueryControlText(const std::wstring& id, const std::wstring&) {
  return SettingsTextTable().Find(id, CResourceManager::GetInstance().GetLanguage());
}

void CSettingWnd::Show(const wchar_t* key) { presenter_->ShowMessage(kTitle, key, false); }

void CSettingWnd::Ok() {
  const std::wstring& before = shownFolder_;
  Collect();
  const std::wstring& path = record_.syncFolderPath;
  std::error_code ec;
  const bool exists = !path.empty() && std::filesystem::exists(PathFromWide(path), ec);
  if (!exists) {
    Show(L"SyncPath_Invalid_Msg");
    return;
  }
  if (path != before) {
    // The sync folder cannot move into itself (its content would be copied
    // into its own sub-folder), and a folder another account syncs would
    // hand each account's files to both servers.
    if (platform::IsSameOrInside(PathFromWide(path), PathFromWide(before))) {
      Show(L"SyncPath_Invalid_Msg");
      return;
    }
    if (controller_.PathInUse(path)) {
      Show(L"Path_Used_Msg");
      return;
    }
  }
  Close(kModalOk);
}

void CSettingWnd::Browse() {
  auto backend = UiBackend::Current();
  if (!backend) return;
  childState_.store(kFolderPicker);
  auto picked = backend->BrowseForFolder(GetHWND(), SyncFolderPickerTitle(record_.language),
                                         PathFromWide(record_.syncFolderPath));
  if (picked) {
    const std::wstring path = NormalizeFolderPath(WideFromPath(*picked));
    record_.syncFolderPath = path;
    if (controller_.PathInUse(path)) {
      Show(L"Path_Used_Msg");
    } else if (auto* edit = FindControlAs<CEditUI>(pm_, L"SYNCPOSEDIT")) {
      edit->SetText(path);
    }
  }
  childState_.store(kNoChild);
}

void CSettingWnd::OpenSelectiveSync() {
  {
    CIgnoredWnd wnd(record_);
    if (wnd.Create(this, IgnoringWindowTitle(record_.language), CIgnoredWnd::kStyle, 0)) {
      wnd.CenterWindow();
      child_.store(&wnd);
      childState_.store(kSelectiveSync);
      if (wnd.ShowModal() == kModalOk) {
        if (auto* label = FindControlAs<CLabelUI>(pm_, L"FILESFOLDERSLABEL")) {
          label->SetText(IgnoreCountText(wnd.ExcludedCount()));
        }
      }
      child_.store(nullptr);
    }
  }
  TakeTextsBack();
  childState_.store(kNoChild);
}

void CSettingWnd::Notify(TNotifyUI& msg) {
  if (!msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  if (msg.sType == kEventSelectChanged) {
    TakeTextsBack();
    if (auto* pages = FindControlAs<CTabLayoutUI>(pm_, L"TAB_SWITCH")) {
      if (name == L"GENERAL_TAB") pages->SelectItem(0);
      else if (name == L"ORLIN_TAB") pages->SelectItem(1);
      else if (name == L"ABOUT_TAB") pages->SelectItem(2);
    }
    return;
  }
  if (msg.sType != kEventClick) return;
  if (name == L"CLOSEBTN" || name == L"CANCELBTN") {
    Close(kModalCancel);
  } else if (name == L"OKBTN") {
    PostMessageW(kMsgOk, 0, 0);
  } else if (name == L"MINBTN") {
    ShowWindowCommand(kSwMinimize);
  } else if (name == L"AUTOSTART_OPTION") {
    // The click comes before the option changes: the new state is the inverse.
    if (auto* c = FindControlAs<COptionUI>(pm_, name)) record_.autostart = !c->IsSelected();
  } else if (name == L"COMPUTERSHOW_OPTION") {
    if (auto* c = FindControlAs<COptionUI>(pm_, name)) record_.showInMyComputer = !c->IsSelected();
  } else if (name == L"TASK_OPTION") {
    record_.hideFromTaskbar = false;
  } else if (name == L"TRAY_OPTION") {
    record_.hideFromTaskbar = true;
  } else if (name == L"SYNCPOSBTN") {
    PostMessageW(kMsgBrowse, 0, 0);
  } else if (name == L"TREEDIRBTN") {
    PostMessageW(kMsgSelectiveSync, 0, 0);
  }
  // APPLYBTN: nothing; only OK hands the values on.
}

std::intptr_t CSettingWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t, bool& handled) {
  if (msg == kMsgOk || msg == kMsgBrowse || msg == kMsgSelectiveSync) {
    handled = true;
    // A second click may have queued the same step after the window ended,
    // or while a child is still open.
    if (!IsWindow() || childState_.load() != kNoChild) return 0;
    if (msg == kMsgOk) Ok();
    else if (msg == kMsgBrowse) Browse();
    else OpenSelectiveSync();
    return 0;
  }
  if (msg != kWmDpiChanged) return 0;
  handled = true;
  ApplyDpi(std::min(static_cast<int>(wParam & 0xFFFF), kMaxDpi));
  return 0;
}

}  // namespace orlin
