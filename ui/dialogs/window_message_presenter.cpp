#include "ui/dialogs/window_message_presenter.h"

namespace orlin {

int WindowMessagePresenter::ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) {
  return ShowMessageWindow(host_, owner_, title, key, showCancel ? 1 : 0);
}

void WindowMessagePresenter::ShowLoginFailure(const std::wstring& detail, bool showCancel) {
  ShowLoginFailureWindow(host_, owner_, detail, showCancel ? 1 : 0);
}

}  // namespace orlin
