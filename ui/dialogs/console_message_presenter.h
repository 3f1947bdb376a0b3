#pragma once
// A message presenter without a window, for tools and tests: it prints the
// title and the message text (in the language of lang.xml, or a language
// set explicitly) as UTF-8 lines and answers OK.

#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "common/message_presenter.h"

namespace orlin {

class ConsoleMessagePresenter : public MessagePresenter {
 public:
  // The language is read from lang.xml in `installDir` for every message,
  // as the message window does when it opens.
  explicit ConsoleMessagePresenter(std::filesystem::path installDir, std::ostream& out = std::cerr);

  // Uses `language` instead of lang.xml.
  void SetLanguage(std::wstring language);

  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override;
  void ShowLoginFailure(const std::wstring& detail, bool showCancel) override;

 private:
  void Print(const std::wstring& title, const std::wstring& key, const std::wstring& detail);

  std::filesystem::path installDir_;
  std::ostream& out_;
  std::mutex mutex_;
  std::optional<std::wstring> language_;
};

}  // namespace orlin
