#include "platform/run_program.h"

#include <windows.h>
#include <shellapi.h>

namespace orlin::platform {
namespace {

// Quoted so the program's command-line parsing gives each word back whole.
std::wstring Parameters(const std::vector<std::wstring>& arguments) {
  std::wstring parameters;
  for (const auto& argument : arguments) {
    if (!parameters.empty()) parameters.push_back(L' ');
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
      parameters += argument;
      continue;
    }
    parameters.push_back(L'"');
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      parameters.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      parameters.push_back(c);
    }
    parameters.append(backslashes * 2, L'\\');
    parameters.push_back(L'"');
  }
  return parameters;
}

}  // namespace

std::optional<int> RunProgramAndWait(const std::filesystem::path& program, const std::vector<std::wstring>& arguments) {
  const std::wstring file = program.wstring();
  const std::wstring parameters = Parameters(arguments);
  // ShellExecuteEx rather than CreateProcess: an installer that asks for
  // other rights than the caller's still starts (the system asks the user).
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExW(&info) || info.hProcess == nullptr) return std::nullopt;
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  const BOOL got = ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hProcess);
  if (!got) return std::nullopt;
  return static_cast<int>(code);
}

}  // namespace orlin::platform
