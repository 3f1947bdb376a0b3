// The process table of Windows: Toolhelp snapshots for the scan, a hidden
// CreateProcessW for starting and TerminateProcess for stopping.

#include "platform/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

namespace orlin::platform {
namespace {

// The user SID of a process token, as bytes; empty when it cannot be read.
std::vector<unsigned char> TokenUser(HANDLE process) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::vector<unsigned char> sid;
  if (size > 0 && ::GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size)) {
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    const DWORD length = ::GetLengthSid(user->User.Sid);
    const auto* bytes = static_cast<const unsigned char*>(user->User.Sid);
    sid.assign(bytes, bytes + length);
  }
  ::CloseHandle(token);
  return sid;
}

bool OwnedBy(DWORD pid, const std::vector<unsigned char>& self) {
  if (self.empty()) return false;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return false;
  const bool same = TokenUser(process) == self;
  ::CloseHandle(process);
  return same;
}

// Every process, or those named `filter` when it is not empty. The owner is
// asked only of the processes returned: opening every process of the system
// on each scan would cost the idle supervisor more than the scan itself.
std::optional<std::vector<ProcessEntry>> Snapshot(std::wstring_view filter) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::vector<unsigned char> self = TokenUser(::GetCurrentProcess());
  std::vector<ProcessEntry> entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (!filter.empty() && !SameImageName(entry.szExeFile, filter)) continue;
    entries.push_back(
        {static_cast<ProcessId>(entry.th32ProcessID), entry.szExeFile, OwnedBy(entry.th32ProcessID, self)});
  }
  ::CloseHandle(snapshot);
  return entries;
}

}  // namespace

std::optional<std::vector<ProcessEntry>> SystemProcessTable::Scan() { return Snapshot({}); }

std::optional<std::vector<ProcessEntry>> SystemProcessTable::ScanFor(std::wstring_view imageName) {
  return Snapshot(imageName);
}

// A snapshot is the one look that tells the image name and the owner
// together here; the supervisor scans.
std::optional<bool> SystemProcessTable::StillRunning(ProcessId, std::wstring_view) { return std::nullopt; }

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
