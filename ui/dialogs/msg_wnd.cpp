#include "ui/dialogs/msg_wnd.h"

#include "common/text.h"
#include "ui/dialogs/message_table.h"
#include "ui/dui/find_control.h"

namespace orlin {

using namespace dui;

CMsgWnd::CMsgWnd(MsgWndHost* host, std::wstring detail) : host_(host), detail_(std::move(detail)) {}

void CMsgWnd::ApplyDpiAndCaption(int dpi) {
  ApplyDPI(dpi);
  // Single precision and truncation, as the caption has always been scaled.
  const float scale = static_cast<float>(pm_.GetDPIObj()->GetScale());
  Rect caption = pm_.GetCaptionRect();
  caption.right = static_cast<int>(static_cast<float>(captionRight_) * scale / 100.0f);
  caption.bottom = static_cast<int>(static_cast<float>(kCaptionHeight) * scale / 100.0f);
  pm_.SetCaptionRect(caption);
}

void CMsgWnd::InitWindow() {
  captionRight_ = pm_.GetCaptionRect().right;
  ApplyDpiAndCaption(host_ ? host_->GetDpi() : 96);
  closeBtn_ = FindControlAs<CButtonUI>(pm_, L"CLOSEBTN");
  okBtn_ = FindControlAs<CButtonUI>(pm_, L"OKBTN");
  cancelBtn_ = FindControlAs<CButtonUI>(pm_, L"CANCELBTN");
  language_ = ReadLanguage(CPaintManagerUI::GetInstancePath());
  if (okBtn_) okBtn_->SetText(OkButtonText(language_));
  if (cancelBtn_) cancelBtn_->SetText(CancelButtonText(language_));
}

void CMsgWnd::ShowCancel(bool show) {
  if (cancelBtn_) cancelBtn_->SetVisible(show);
}

void CMsgWnd::SetTitle(const std::wstring& title) {
  auto text = MessageTitleText(title);
  if (!text) return;
  if (auto* label = FindControlAs<CLabelUI>(pm_, L"MESSAGETITLE")) label->SetText(*text);
}

void CMsgWnd::SetMessageKey(const std::wstring& key) {
  if (key.empty()) return;
  auto* label = FindControlAs<CLabelUI>(pm_, L"MessageText");
  if (!label) return;
  if (auto text = MessageText(key, language_, detail_)) label->SetText(*text);
}

void CMsgWnd::Notify(TNotifyUI& msg) {
  if (msg.sType != kEventClick || !msg.pSender) return;
  if (msg.pSender == closeBtn_) {
    Close(kModalCancel);
    return;
  }
  const std::wstring& name = msg.pSender->GetName();
  if (EqualsIgnoreCase(name, L"OKBTN")) Close(kModalOk);
  else if (EqualsIgnoreCase(name, L"CANCELBTN")) Close(kModalCancel);
}

std::intptr_t CMsgWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t, bool& handled) {
  if (msg != kWmDpiChanged) return 0;
  handled = true;
  int dpi = static_cast<int>(wParam & 0xFFFF);
  if (dpi > kMaxDpi) dpi = kMaxDpi;
  ApplyDpiAndCaption(dpi);
  if (host_) host_->SetDpi(dpi, 0);
  return 0;
}

namespace {

int RunMessageWindow(MsgWndHost* host, WindowImplBase* owner, const std::wstring& title, const std::wstring& key,
                     const std::wstring& detail, int showCancel) {
  // Owned here for its whole life: the window object outlives its native
  // window and goes when the modal loop has returned.
  CMsgWnd wnd(host, detail);
  if (!wnd.Create(owner, L"msgwnd", kWsPopup | kWsClipChildren, kWsExTopmost, kCwUseDefault, kCwUseDefault,
                  kCwUseDefault, kCwUseDefault)) {
    return kModalCancel;
  }
  wnd.CenterWindow();
  wnd.ShowCancel((showCancel & 0xFF) != 0);
  wnd.SetTitle(title);
  wnd.SetMessageKey(key);
  return wnd.ShowModal();
}

}  // namespace

int ShowMessageWindow(MsgWndHost* host, WindowImplBase* owner, const std::wstring& title, const std::wstring& key,
                      int showCancel) {
  return RunMessageWindow(host, owner, title, key, L"", showCancel);
}

void ShowLoginFailureWindow(MsgWndHost* host, WindowImplBase* owner, const std::wstring& detail, int showCancel) {
  RunMessageWindow(host, owner, L"Orlin", kLoginFailedKey, detail, showCancel);
}

}  // namespace orlin
