#include "platform/program_start.h"

#include "common/utf/utf.h"

#include <windows.h>
#include <shellapi.h>

namespace orlin::platform {
std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> words;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
    return words;
  }
  for (int i = 1; i < count; ++i) words.push_back(WideToUtf8(wide[i]));
  ::LocalFree(wide);
  return words;
}

}  // namespace orlin::platform
