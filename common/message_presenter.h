#pragma once
// The one way core code shows a message to the user. Callers pass a message
// key, never text; the presenter looks the text up in the two-language table
// of the message window (ui/dialogs/message_table.h).
//
// Threads: both calls are modal and run on the calling thread (UI thread,
// login worker, start-up thread, ...). Implementations must allow several
// calls at once from different threads.

#include <string>

namespace orlin {

inline constexpr int kModalOk = 1;
inline constexpr int kModalCancel = 2;

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;

  // Shows the text of `key`. Returns kModalOk or kModalCancel (Cancel or the
  // close button). `showCancel` decides whether the Cancel button is offered.
  virtual int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) = 0;

  // Shows "Login_Failed_msg" followed directly by `detail`, titled "Orlin".
  virtual void ShowLoginFailure(const std::wstring& detail, bool showCancel) = 0;
};

}  // namespace orlin
