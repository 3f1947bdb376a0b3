#include "tools/auto-updater/updater_wnd.h"

#include <cstdio>

#include "common/text.h"
#include "common/window_messages.h"
#include "ui/dialogs/message_table.h"
#include "ui/dui/find_control.h"

namespace orlin::update {

using namespace dui;

const TextTable& UpdaterTextTable() {
  static const TextTable table({
      {L"Current_Version_Label", L"Installed version:", L"当前版本："},
      {L"Newest_Version_Label", L"Newest version:", L"最新版本："},
      {L"Update_Btn", L"Update", L"升  级"},
      {L"Cancel_Btn", L"Cancel", L"取  消"},
      {L"Close_Btn", L"Close", L"关  闭"},
  });
  return table;
}

CAutoUpdaterWnd::CAutoUpdaterWnd(Updater& updater, std::string currentVersion, std::wstring language)
    : updater_(updater), currentVersion_(std::move(currentVersion)), language_(std::move(language)) {}

CAutoUpdaterWnd::~CAutoUpdaterWnd() {
  // The worker updates this window's controls: it ends before they go.
  updater_.Cancel();
  if (worker_.joinable()) worker_.join();
  CResourceManager::GetInstance().RemoveTextQueryInterface(this);
}

std::wstring CAutoUpdaterWnd::GetWindowClassName() const { return kUpdaterWindowClass; }

std::wstring CAutoUpdaterWnd::StatusKey() const {
  std::lock_guard lock(mutex_);
  return statusKey_;
}

std::wstring CAutoUpdaterWnd::Language() const {
  std::lock_guard lock(mutex_);
  return language_;
}

void CAutoUpdaterWnd::InitWindow() {
  SetLanguage(Language());
  if (auto* current = FindControlAs<CLabelUI>(pm_, L"CURRENTVERSIONLABEL")) current->SetText(Utf8ToWide(currentVersion_));
  if (auto* newest = FindControlAs<CLabelUI>(pm_, L"NEWVERSIONLABEL")) newest->SetText(L"-");
  if (auto* bar = FindControlAs<CProgressUI>(pm_, L"DOWNLOADPROGRESS")) bar->SetVisible(false);
  SetButtons(false, true);
  ShowStatus(L"Update_Checking_Msg");
  StartWorker(&CAutoUpdaterWnd::RunCheck);
}

std::optional<std::wstring> CAutoUpdaterWnd::QueryControlText(const std::wstring& id, const std::wstring&) {
  return UpdaterTextTable().Find(id, Language());
}

void CAutoUpdaterWnd::SetLanguage(std::wstring language) {
  {
    std::lock_guard lock(mutex_);
    language_ = std::move(language);
  }
  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  resources.SetLanguage(Language());
  resources.ReloadText();
  // The status line is chosen in code: it follows the language as well.
  ShowStatus(StatusKey());
}

void CAutoUpdaterWnd::ShowStatus(const std::wstring& key) {
  {
    std::lock_guard lock(mutex_);
    statusKey_ = key;
  }
  if (key.empty()) return;
  if (auto* status = FindControlAs<CLabelUI>(pm_, L"STATUSTEXT")) {
    status->SetText(MessageText(key, Language()).value_or(key));
  }
}

void CAutoUpdaterWnd::SetButtons(bool updateEnabled, bool cancelEnabled) {
  if (auto* update = FindControlAs<CButtonUI>(pm_, L"UPDATEBTN")) update->SetEnabled(updateEnabled);
  if (auto* cancel = FindControlAs<CButtonUI>(pm_, L"CANCELBTN")) cancel->SetEnabled(cancelEnabled);
}

void CAutoUpdaterWnd::StartWorker(void (CAutoUpdaterWnd::*step)()) {
  if (worker_.joinable()) worker_.join();
  worker_ = std::jthread([this, step] { (this->*step)(); });
}

// On the worker.
void CAutoUpdaterWnd::RunCheck() {
  const CheckResult result = updater_.Check();
  if (!result.detail.empty()) std::fprintf(stderr, "AutoUpdater: %s\n", result.detail.c_str());
  if (auto* newest = FindControlAs<CLabelUI>(pm_, L"NEWVERSIONLABEL")) {
    newest->SetText(result.newestVersion.empty() ? L"-" : Utf8ToWide(result.newestVersion));
  }
  ShowStatus(result.messageKey);
  const bool newer = result.ok && result.check == UpdateCheck::kNewer;
  SetButtons(newer, true);
  stage_ = newer ? Stage::kChecked : Stage::kFinished;
}

// On the worker.
void CAutoUpdaterWnd::RunUpdate() {
  auto* bar = FindControlAs<CProgressUI>(pm_, L"DOWNLOADPROGRESS");
  if (bar) {
    bar->SetValue(0);
    bar->SetVisible(true);
  }
  ShowStatus(L"Update_Downloading_Msg");
  const DownloadResult download = updater_.Download([bar](std::uint64_t done, std::uint64_t total) {
    if (bar && total > 0) bar->SetValue(static_cast<int>(done * bar->GetMaxValue() / total));
  });
  if (!download.detail.empty()) std::fprintf(stderr, "AutoUpdater: %s\n", download.detail.c_str());
  if (!download.ok) {
    if (bar) bar->SetVisible(false);
    ShowStatus(download.messageKey);
    // A cancelled or failed download may be tried again.
    SetButtons(true, true);
    stage_ = Stage::kChecked;
    return;
  }
  stage_ = Stage::kInstalling;
  SetButtons(false, false);
  ShowStatus(L"Update_Installing_Msg");
  const InstallResult install = updater_.Install(download.package);
  if (bar) bar->SetVisible(false);
  ShowStatus(install.messageKey);
  if (auto* cancel = FindControlAs<CButtonUI>(pm_, L"CANCELBTN")) {
    cancel->SetText(UpdaterTextTable().Find(L"Close_Btn", Language()).value_or(L"Close"));
    cancel->SetEnabled(true);
  }
  stage_ = Stage::kFinished;
}

void CAutoUpdaterWnd::Notify(TNotifyUI& msg) {
  if (msg.sType != kEventClick || !msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  const Stage stage = stage_.load();
  if (name == L"UPDATEBTN") {
    if (stage != Stage::kChecked) return;
    stage_ = Stage::kDownloading;
    SetButtons(false, true);
    StartWorker(&CAutoUpdaterWnd::RunUpdate);
  } else if (name == L"CANCELBTN" || name == L"CLOSEBTN") {
    if (stage == Stage::kInstalling) return;
    if (stage == Stage::kDownloading) {
      // The worker ends the download, deletes what came and says so.
      updater_.Cancel();
      return;
    }
    Close(kModalCancel);
  }
}

std::intptr_t CAutoUpdaterWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t,
                                                   bool& handled) {
  if (msg != kMsgLanguageChanged) return 0;
  handled = true;
  SetLanguage(wParam == 0 ? L"en" : L"zh_cn");
  return 0;
}

}  // namespace orlin::update
