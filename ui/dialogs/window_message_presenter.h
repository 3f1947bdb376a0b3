#pragma once
// The message presenter of the running program: each call opens the modal
// message window over the owner window, on the calling thread.

#include "common/message_presenter.h"
#include "ui/dialogs/msg_wnd.h"

namespace orlin {

class WindowMessagePresenter : public MessagePresenter {
 public:
  // Neither is owned; both may be null and must outlive the presenter.
  WindowMessagePresenter(MsgWndHost* host, dui::WindowImplBase* owner) : host_(host), owner_(owner) {}

  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override;
  void ShowLoginFailure(const std::wstring& detail, bool showCancel) override;

 private:
  MsgWndHost* host_;
  dui::WindowImplBase* owner_;
};

}  // namespace orlin
