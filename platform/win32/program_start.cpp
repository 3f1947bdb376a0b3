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

bool StartProgramHidden(const std::filesystem::path& program) {
  const std::wstring application = program.wstring();
  // The command line is empty, not absent: CreateProcessW may write into
  // the buffer, so it is one of our own.
  wchar_t commandLine[1] = {L'\0'};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(application.c_str(), commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
    return false;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return true;
}

}  // namespace orlin::platform
