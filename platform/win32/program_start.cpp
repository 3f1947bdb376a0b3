#include "platform/program_start.h"

#include <windows.h>
#include <shellapi.h>

namespace orlin::platform {
namespace {

std::string ToUtf8(const wchar_t* wide) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size - 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> words;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
    return words;
  }
  for (int i = 1; i < count; ++i) words.push_back(ToUtf8(wide[i]));
  ::LocalFree(wide);
  return words;
}

}  // namespace orlin::platform
