// The process table of Windows: Toolhelp snapshots for the scan, a hidden
// CreateProcessW for starting and TerminateProcess for stopping.

#include "platform/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

namespace orlin::platform {

std::optional<std::vector<ProcessEntry>> SystemProcessTable::Scan() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<ProcessEntry> entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    entries.push_back({static_cast<ProcessId>(entry.th32ProcessID), entry.szExeFile});
  }
  ::CloseHandle(snapshot);
  return entries;
}

std::optional<ProcessId> SystemProcessTable::StartHidden(const std::wstring& commandLine) {
  // CreateProcessW may write into the command line buffer.
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info)) {
    return std::nullopt;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return static_cast<ProcessId>(info.dwProcessId);
}

bool SystemProcessTable::Terminate(ProcessId pid, std::uint32_t exitCode) {
  HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) return false;
  const bool ok = ::TerminateProcess(process, exitCode) != 0;
  ::CloseHandle(process);
  return ok;
}

}  // namespace orlin::platform
