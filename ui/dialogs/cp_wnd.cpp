#include "ui/dialogs/cp_wnd.h"

#include <cstdio>
#include <system_error>

#include "app/store/state_files.h"
#include "common/text.h"
#include "common/window_messages.h"
#include "platform/file_copy.h"
#include "ui/dialogs/settings_texts.h"
#include "ui/dui/find_control.h"

namespace orlin {

using namespace dui;

namespace {

constexpr wchar_t kTitle[] = L"Orlin";

// One copy window at a time, whoever asks for it.
std::atomic<bool> g_copyWindowOpen{false};

std::wstring Language() {
  return ReadLanguageFile(CPaintManagerUI::GetInstancePath()).value_or(L"zh_cn");
}

// Runs the window modally and tells how the copy ended; nullopt when another
// copy window is open or the window could not be made.
std::optional<CopySummary> RunCopyWindow(Controller& controller, WindowImplBase* owner, const std::wstring& source,
                                         const std::wstring& destination) {
  if (g_copyWindowOpen.exchange(true)) return std::nullopt;
  std::optional<CopySummary> summary;
  {
    CCPWnd wnd(controller, source, destination);
    // A maximised main window would hide it: then it belongs to the desktop.
    WindowImplBase* parent = owner != nullptr && !owner->IsZoomed() ? owner : nullptr;
    if (wnd.Create(parent, CopyWindowTitle(Language()), CCPWnd::kStyle, kWsExTopmost)) {
      wnd.CenterWindow();
      wnd.ShowModal();
      summary = wnd.Summary();
    }
  }
  g_copyWindowOpen.store(false);
  // The main window takes the texts back (this window was their provider).
  if (owner != nullptr) owner->Post(kMsgDialogClosed, 0, 0);
  return summary;
}

}  // namespace

CCPWnd::CCPWnd(Controller& controller, std::wstring source, std::wstring destination, CopyWorkerOptions options)
    : controller_(controller), source_(std::move(source)), destination_(std::move(destination)), options_(options) {}

CCPWnd::~CCPWnd() {
  // The worker updates this window's controls: it ends before they go.
  if (worker_) worker_->Cancel();
  if (thread_.joinable()) thread_.join();
  CResourceManager::GetInstance().RemoveTextQueryInterface(this);
}

std::optional<CopySummary> CCPWnd::Summary() const {
  std::lock_guard lock(summaryMutex_);
  return summary_;
}

void CCPWnd::ApplyDpiAndCaption(int dpi) {
  ApplyDPI(dpi);
  const float scale = static_cast<float>(pm_.GetDPIObj()->GetScale());
  Rect caption = pm_.GetCaptionRect();
  caption.right = static_cast<int>(static_cast<float>(skinCaption_.right) * scale / 100.0f);
  caption.bottom = static_cast<int>(static_cast<float>(skinCaption_.bottom) * scale / 100.0f);
  pm_.SetCaptionRect(caption);
}

void CCPWnd::InitWindow() {
  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  resources.SetLanguage(Language());
  resources.ReloadText();
  skinCaption_ = pm_.GetCaptionRect();
  const int dpi = controller_.Settings().dpi;
  ApplyDpiAndCaption(dpi > 0 ? std::min(dpi, kMaxDpi) : 96);

  if (auto* to = FindControlAs<CLabelUI>(pm_, L"TOPATHLABEL")) to->SetText(destination_);
  if (auto* ok = FindControlAs<CButtonUI>(pm_, L"OKBTN")) ok->SetEnabled(false);
  if (!worker_) {
    CopyProgressSink* sink = this;
    worker_ = std::make_unique<CopyWorker>(PathFromWide(source_), PathFromWide(destination_), sink, options_);
    thread_ = std::jthread([this] { RunCopy(); });
  }
}

std::optional<std::wstring> CCPWnd::QueryControlText(const std::wstring& id, const std::wstring&) {
  return CopyTextTable().Find(id, CResourceManager::GetInstance().GetLanguage());
}

// On the worker thread.
void CCPWnd::OnCopyProgress(const CopyProgress& p) {
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"FROMPATHLABEL")) c->SetText(p.fromPath.empty() ? source_ : p.fromPath);
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"TOPATHLABEL")) c->SetText(p.toPath.empty() ? destination_ : p.toPath);
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"CURRENTFILELABEL")) c->SetText(p.currentFileName);
  if (auto* c = FindControlAs<CProgressUI>(pm_, L"CURRENTPROGRESS")) c->SetValue(p.currentPercent);
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"CURRENTSIZELABEL")) {
    c->SetText(p.currentTotalText.empty() ? std::wstring() : p.currentCopiedText + L" / " + p.currentTotalText);
  }
  int percent = 0;
  if (auto* all = FindControlAs<CProgressUI>(pm_, L"ALLPROGRESS")) {
    percent = OverallPercent(all->GetMaxValue(), p);
    all->SetValue(percent * all->GetMaxValue() / 100);
  }
  wchar_t text[64];
  std::swprintf(text, sizeof text / sizeof text[0], L"(%d%%) ", percent);
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"MAINTITLES")) c->SetText(text);
  std::swprintf(text, sizeof text / sizeof text[0], L"%d / %d", p.copiedFiles, p.totalFiles);
  if (auto* c = FindControlAs<CLabelUI>(pm_, L"ALLSIZELABEL")) c->SetText(text);
}

// The worker thread: the copy, then the window's end.
void CCPWnd::RunCopy() {
  const CopySummary summary = worker_->Run();
  {
    std::lock_guard lock(summaryMutex_);
    summary_ = summary;
  }
  finished_.store(true);
  if (summary.end == CopyEnd::kCancelled) {
    Close(kModalCancel);
  } else if (summary.end == CopyEnd::kAllCopied) {
    Close(kModalOk);
  } else {
    // Not every file arrived: the count stays in view until the user ends
    // the window.
    if (auto* ok = FindControlAs<CButtonUI>(pm_, L"OKBTN")) ok->SetEnabled(true);
  }
}

void CCPWnd::Notify(TNotifyUI& msg) {
  if (msg.sType != kEventClick || !msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"CLOSEBTN" || name == L"CANCELBTN") {
    // While the copy runs the worker ends the window once the running file
    // has stopped; afterwards there is nothing left to stop.
    if (finished_.load()) {
      Close(kModalCancel);
    } else if (worker_) {
      worker_->Cancel();
    }
  } else if (name == L"OKBTN") {
    if (finished_.load()) Close(kModalOk);
  } else if (name == L"MINIBTN") {
    ShowWindowCommand(kSwMinimize);
  }
}

std::intptr_t CCPWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t, bool& handled) {
  if (msg != kWmDpiChanged) return 0;
  handled = true;
  const int dpi = std::min(static_cast<int>(wParam & 0xFFFF), kMaxDpi);
  ApplyDpiAndCaption(dpi);
  controller_.SetDpi(dpi, false);
  return 0;
}

bool CopyIntoSyncFolder(Controller& controller, WindowImplBase* owner, MessagePresenter& presenter,
                        const std::wstring& source) {
  std::error_code ec;
  const std::filesystem::path from = PathFromWide(source);
  if (source.empty() || !std::filesystem::exists(std::filesystem::symlink_status(from, ec))) {
    presenter.ShowMessage(kTitle, L"Invalid_directory_Msg", false);
    return false;
  }
  const std::wstring syncFolder = controller.Settings().syncFolderPath;
  // The sync folder itself, or a folder holding it, would be copied into
  // itself. Compared by whole folder names: "Sync2" does not hold "Sync".
  if (syncFolder.empty() || platform::IsSameOrInside(PathFromWide(syncFolder), from)) {
    presenter.ShowMessage(kTitle, L"SyncFolder_Error_Msg", false);
    return false;
  }
  const auto summary = RunCopyWindow(controller, owner, source, syncFolder);
  return summary && summary->end == CopyEnd::kAllCopied;
}

bool CopyFolderWithWindow(Controller& controller, WindowImplBase* owner, const std::wstring& from,
                          const std::wstring& to) {
  const auto summary = RunCopyWindow(controller, owner, from, to);
  return summary && summary->end == CopyEnd::kAllCopied;
}

}  // namespace orlin
