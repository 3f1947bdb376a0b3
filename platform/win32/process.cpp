// The process table of Windows: Toolhelp snapshots for the scan, a watching
// handle for the look at one known process, a hidden CreateProcessW for
// starting and TerminateProcess for stopping.

#include "platform/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <mutex>
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

namespace {

// The engine check of the main window's data thread asks ten times a second
// whether the engine process of the last scan still runs. A Toolhelp
// snapshot each time was most of Orlin's idle CPU under Wine, where every
// snapshot reads /proc for each process and thread of the session and asks
// wineserver for its whole process list. A process found once is watched
// through a handle of its own instead: the handle keeps the process object,
// so its id cannot pass to another process while we hold it, a Windows
// process never runs another image, and one wait without blocking tells
// whether it ended.
struct WatchedProcess {
  ProcessId pid;
  std::wstring imageName;
  HANDLE handle;
};
constexpr std::size_t kMaxWatched = 16;

std::mutex& WatchedMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<WatchedProcess>& Watched() {
  static std::vector<WatchedProcess> watched;
  return watched;
}

// The file name of the image `process` runs, or empty when it cannot be read.
std::wstring ImageFileName(HANDLE process) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
      path.resize(size);
      const auto slash = path.find_last_of(L"\\/");
      return slash == std::wstring::npos ? path : path.substr(slash + 1);
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    path.resize(path.size() * 2);
  }
  return {};
}

// One look at `pid` through a handle that may watch it from then on: true
// with the handle when it runs under `imageName` as this user, false (no
// handle) when it does not or no longer exists, nullopt when that cannot be
// told.
std::optional<bool> LookAt(ProcessId pid, std::wstring_view imageName, HANDLE* watch) {
  *watch = nullptr;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) {
    // Gone, or not ours to open: either way not a process of ours.
    return ::GetLastError() == ERROR_INVALID_PARAMETER || ::GetLastError() == ERROR_ACCESS_DENIED
               ? std::optional<bool>(false)
               : std::nullopt;
  }
  std::optional<bool> runs;
  const std::wstring image = ImageFileName(process);
  if (::WaitForSingleObject(process, 0) != WAIT_TIMEOUT) {
    runs = false;  // ended, its object still held by somebody
  } else if (image.empty()) {
    runs = std::nullopt;
  } else {
    runs = SameImageName(image, imageName) && TokenUser(process) == TokenUser(::GetCurrentProcess());
  }
  if (runs == true) *watch = process;
  else ::CloseHandle(process);
  return runs;
}

}  // namespace

std::optional<bool> SystemProcessTable::StillRunning(ProcessId pid, std::wstring_view imageName) {
  {
    std::lock_guard lock(WatchedMutex());
    auto& watched = Watched();
    for (auto it = watched.begin(); it != watched.end(); ++it) {
      if (it->pid != pid || !SameImageName(it->imageName, imageName)) continue;
      const DWORD wait = ::WaitForSingleObject(it->handle, 0);
      if (wait == WAIT_TIMEOUT) return true;
      ::CloseHandle(it->handle);
      watched.erase(it);
      if (wait == WAIT_OBJECT_0) return false;
      break;  // looked at afresh below
    }
  }
  HANDLE handle = nullptr;
  const std::optional<bool> runs = LookAt(pid, imageName, &handle);
  if (!handle) return runs;
  std::lock_guard lock(WatchedMutex());
  auto& watched = Watched();
  if (watched.size() >= kMaxWatched) {
    ::CloseHandle(watched.front().handle);
    watched.erase(watched.begin());
  }
  watched.push_back(WatchedProcess{pid, std::wstring(imageName), handle});
  return runs;
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
