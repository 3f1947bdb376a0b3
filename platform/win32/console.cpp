#include "platform/console.h"

#include <windows.h>

#include "common/utf/utf.h"

namespace orlin::platform {

namespace {

// A line of a pipe or file, byte by byte, so nothing after it is consumed.
std::optional<std::string> ReadPipeLine(HANDLE input) {
  std::string line;
  bool any = false;
  for (;;) {
    char c = 0;
    DWORD read = 0;
    if (!::ReadFile(input, &c, 1, &read, nullptr)) {
      if (::GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer has closed it
      return std::nullopt;
    }
    if (read == 0) break;
    any = true;
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return std::nullopt;
  DWORD mode = 0;
  if (!::GetConsoleMode(input, &mode)) return ReadPipeLine(input);

  // A console: the prompt goes to the console of standard error, the typed
  // characters are read as UTF-16 (whatever the code page) and not echoed.
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  const std::wstring widePrompt = Utf8ToWide(prompt);
  DWORD written = 0;
  if (!::WriteConsoleW(error, widePrompt.c_str(), static_cast<DWORD>(widePrompt.size()), &written, nullptr)) {
    ::WriteFile(error, prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);
  }
  ::SetConsoleMode(input, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::wstring line;
  bool ended = false;
  bool ok = true;
  while (!ended) {
    wchar_t buffer[256];
    DWORD read = 0;
    if (!::ReadConsoleW(input, buffer, 256, &read, nullptr) || read == 0) {
      ok = !line.empty();
      break;
    }
    for (DWORD i = 0; i < read; ++i) {
      if (buffer[i] == L'\n') {
        ended = true;
        break;
      }
      if (buffer[i] != L'\r') line.push_back(buffer[i]);
    }
  }
  ::SetConsoleMode(input, mode);
  ::WriteConsoleW(error, L"\r\n", 2, &written, nullptr);
  if (!ok) return std::nullopt;
  return WideToUtf8(line);
}

}  // namespace orlin::platform
