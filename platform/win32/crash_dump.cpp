#include "platform/crash_dump.h"

// clang-format off
#include <windows.h>
#include <dbghelp.h>
// clang-format on

#include <cwchar>
#include <system_error>

namespace orlin::platform {
namespace {

wchar_t g_dumpDir[MAX_PATH];

LONG WINAPI WriteDumpAndExit(EXCEPTION_POINTERS* pointers) {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  ::CreateDirectoryW(g_dumpDir, nullptr);  // an existing directory is fine

  const CrashTime t{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  const DWORD pid = ::GetCurrentProcessId();
  const DWORD tid = ::GetCurrentThreadId();
  const std::string name = CrashDumpFileName(t, pid, tid);
  wchar_t file[MAX_PATH];
  std::swprintf(file, MAX_PATH, L"%ls\\%hs", g_dumpDir, name.c_str());

  HANDLE h = ::CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION info{};
    info.ThreadId = tid;
    info.ExceptionPointers = pointers;
    info.ClientPointers = TRUE;
    ::MiniDumpWriteDump(::GetCurrentProcess(), pid, h, MiniDumpWithDataSegs, &info, nullptr, nullptr);
    ::CloseHandle(h);
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool InstallCrashHandler(const std::filesystem::path& dumpDir) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(dumpDir, ec);
  const std::wstring dir = ec ? dumpDir.wstring() : absolute.wstring();
  if (dir.size() >= MAX_PATH - 40) return false;  // room for the file name
  std::wmemcpy(g_dumpDir, dir.c_str(), dir.size() + 1);
  ::SetUnhandledExceptionFilter(WriteDumpAndExit);
  return true;
}

}  // namespace orlin::platform
