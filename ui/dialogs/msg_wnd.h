#pragma once
// The message window: every message the user sees goes through it. Callers
// pass a message key, never text; the window shows the key's text from the
// message table in the language of lang.xml, with OK and an optional Cancel.
//
// Threads: both entry points are modal and run on the calling thread (the UI
// thread, the login worker, start-up and other worker threads). Several may
// be open at once on different threads; each window is independent.

#include <string>

#include "ui/dui/window_impl_base.h"

namespace orlin {

// What the message window needs of the engine controller: the DPI of its
// settings record and where a changed DPI goes.
class MsgWndHost {
 public:
  virtual ~MsgWndHost() = default;
  virtual int GetDpi() const = 0;
  // Called on the window's message thread.
  virtual void SetDpi(int dpi, int notify) = 0;
};

class CMsgWnd : public dui::WindowImplBase {
 public:
  static constexpr int kCaptionHeight = 30;
  static constexpr int kMaxDpi = 192;

  // `host` may be null (96 DPI, changes kept to the window).
  CMsgWnd(MsgWndHost* host, std::wstring detail);

  std::wstring GetWindowClassName() const override { return L"MsgWnd"; }
  std::wstring GetSkinFile() override { return L"msg.xml"; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  // The window answers no text id: the skin's own texts stay unless set here.
  std::optional<std::wstring> QueryControlText(const std::wstring&, const std::wstring&) override {
    return std::nullopt;
  }

  // Steps 3 to 5 of showing: the Cancel button, the title and the text.
  void ShowCancel(bool show);
  void SetTitle(const std::wstring& title);
  void SetMessageKey(const std::wstring& key);

  const std::wstring& GetLanguage() const { return language_; }

 private:
  void ApplyDpiAndCaption(int dpi);

  MsgWndHost* host_;
  std::wstring detail_;
  std::wstring language_ = L"zh_cn";
  int captionRight_ = 0;
  dui::CControlUI* closeBtn_ = nullptr;
  dui::CControlUI* okBtn_ = nullptr;
  dui::CControlUI* cancelBtn_ = nullptr;
};

// Shows the text of `key` titled "Orlin" (for any non-empty title) and
// returns 1 for OK, 2 for Cancel or the close button. Only the low byte of
// `showCancel` counts.
int ShowMessageWindow(MsgWndHost* host, dui::WindowImplBase* owner, const std::wstring& title, const std::wstring& key,
                      int showCancel);
// Shows "Login_Failed_msg" followed directly by `detail`, titled "Orlin".
void ShowLoginFailureWindow(MsgWndHost* host, dui::WindowImplBase* owner, const std::wstring& detail, int showCancel);

}  // namespace orlin
