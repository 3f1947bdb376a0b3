#include "platform/process_watch.h"

#include <windows.h>

#include <algorithm>

namespace orlin::platform {

std::optional<std::filesystem::path> ProcessImagePath(ProcessId pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return std::nullopt;
  wchar_t buffer[32768];
  DWORD size = sizeof buffer / sizeof buffer[0];
  const BOOL ok = ::QueryFullProcessImageNameW(process, 0, buffer, &size);
  ::CloseHandle(process);
  if (!ok) return std::nullopt;
  return std::filesystem::path(std::wstring(buffer, size));
}

ProcessWait WaitForProcessEnd(ProcessId pid, std::chrono::milliseconds timeout) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) {
    // No such process (any more): the system says the id is invalid.
    return ::GetLastError() == ERROR_INVALID_PARAMETER ? ProcessWait::kEnded : ProcessWait::kCannotWatch;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  ProcessWait result = ProcessWait::kStillRuns;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    // INFINITE is 0xFFFFFFFF: stay below it and wait again for the rest.
    const DWORD step = static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(left.count(), 0x7FFFFFFF));
    const DWORD waited = ::WaitForSingleObject(process, step);
    if (waited == WAIT_OBJECT_0) {
      result = ProcessWait::kEnded;
      break;
    }
    if (waited != WAIT_TIMEOUT) {
      result = ProcessWait::kCannotWatch;
      break;
    }
  }
  ::CloseHandle(process);
  return result;
}

}  // namespace orlin::platform
