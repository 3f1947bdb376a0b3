#include "ui/dialogs/console_message_presenter.h"

#include "common/text.h"
#include "ui/dialogs/message_table.h"

namespace orlin {

ConsoleMessagePresenter::ConsoleMessagePresenter(std::filesystem::path installDir, std::ostream& out)
    : installDir_(std::move(installDir)), out_(out) {}

void ConsoleMessagePresenter::SetLanguage(std::wstring language) {
  std::lock_guard lock(mutex_);
  language_ = std::move(language);
}

int ConsoleMessagePresenter::ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) {
  Print(title, key, {});
  return kModalOk;
}

void ConsoleMessagePresenter::ShowLoginFailure(const std::wstring& detail, bool showCancel) {
  Print(L"Orlin", kLoginFailedKey, detail);
}

void ConsoleMessagePresenter::Print(const std::wstring& title, const std::wstring& key, const std::wstring& detail) {
  std::optional<std::wstring> language;
  {
    std::lock_guard lock(mutex_);
    language = language_;
  }
  if (!language) language = ReadLanguage(installDir_);
  const std::optional<std::wstring> text = MessageText(key, *language, detail);

  std::lock_guard lock(mutex_);
  out_ << WideToUtf8(title) << ": " << (text ? WideToUtf8(*text) : std::string{}) << '\n';
  out_.flush();
}

}  // namespace orlin
