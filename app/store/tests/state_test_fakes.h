#pragma once
// Recording fakes of the collaborators StateFiles is given.

#include <cstdint>
#include <string>
#include <vector>

#include "common/message_presenter.h"
#include "common/owner_window.h"

namespace orlin::testing {

struct ShownMessage {
  std::wstring title;
  std::wstring key;
  bool showCancel = false;

  bool operator==(const ShownMessage&) const = default;
};

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    messages.push_back({title, key, showCancel});
    return answer;
  }
  void ShowLoginFailure(const std::wstring& detail, bool showCancel) override {
    messages.push_back({L"Orlin", L"Login_Failed_msg" + detail, showCancel});
  }

  int answer = kModalOk;
  std::vector<ShownMessage> messages;
};

struct WindowCall {
  bool sent = false;  // false: posted
  unsigned message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;

  bool operator==(const WindowCall&) const = default;
};

class RecordingWindow : public OwnerWindow {
 public:
  void Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    calls.push_back({false, message, wParam, lParam});
  }
  std::intptr_t Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    calls.push_back({true, message, wParam, lParam});
    return 0;
  }

  std::vector<WindowCall> calls;
};

}  // namespace orlin::testing
