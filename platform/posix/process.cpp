#include "platform/process.h"

#include "common/utf/utf.h"

#include <dirent.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

namespace orlin::platform {
namespace {

// A process that has exited but was not yet reaped by its parent still has
// a /proc entry; it is not running.
bool IsLive(const std::string& procDir) {
  std::ifstream stat(procDir + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  // The state follows the parenthesised command name, which may itself
  // contain ") ".
  const auto close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state != 'Z' && state != 'X' && state != 'x';
}

// The program the first word names: a path as it is, a bare name looked up
// in PATH (done before fork, as the search allocates).
std::string ResolveProgram(const std::string& word) {
  if (word.find('/') != std::string::npos) return word;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t begin = 0;
  while (begin <= dirs.size()) {
    std::size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(begin, end - begin);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + word;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    begin = end + 1;
  }
  return word;
}

// What the starter processes report back through the status pipe.
struct StartReport {
  int kind;  // kReportPid or kReportExecError
  int value;
};
constexpr int kReportPid = 1;
constexpr int kReportExecError = 2;

void WriteReport(int fd, int kind, int value) {
  const StartReport report{kind, value};
  // Fewer than PIPE_BUF bytes: written whole or not at all.
  while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
  }
}

// Closes every descriptor from 3 up except `keep` (which is close-on-exec
// and reports an exec failure). Only async-signal-safe calls: this runs
// between fork and exec.
void CloseInheritedDescriptors(int keep, int maxFd) {
#ifdef SYS_close_range
  const bool below = keep <= 3 || ::syscall(SYS_close_range, 3u, static_cast<unsigned>(keep - 1), 0u) == 0;
  if (below && ::syscall(SYS_close_range, static_cast<unsigned>(keep + 1), ~0u, 0u) == 0) return;
#endif
  for (int fd = 3; fd < maxFd; ++fd) {
    if (fd != keep) ::close(fd);
  }
}

}  // namespace

namespace {

// Every live process, or those named `filter` when it is not empty.
std::optional<std::vector<ProcessEntry>> ScanProc(std::wstring_view filter) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return std::nullopt;
  std::vector<ProcessEntry> entries;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid == 0) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    std::ifstream commFile(dir + "/comm");
    std::string comm;
    // A process that vanished between readdir and open is simply skipped.
    if (!std::getline(commFile, comm)) continue;
    std::wstring name = Utf8ToWide(comm);
    if (!filter.empty() && !SameImageName(name, filter)) continue;
    if (!IsLive(dir)) continue;
    struct stat info {};
    const bool owned = ::stat(dir.c_str(), &info) == 0 && info.st_uid == ::geteuid();
    entries.push_back({static_cast<ProcessId>(pid), std::move(name), owned});
  }
  ::closedir(proc);
  return entries;
}

}  // namespace

std::optional<std::vector<ProcessEntry>> SystemProcessTable::Scan() { return ScanProc({}); }

std::optional<std::vector<ProcessEntry>> SystemProcessTable::ScanFor(std::wstring_view imageName) {
  return ScanProc(imageName);
}

namespace {

// The engine check of the main window's data thread asks ten times a second
// whether the same engine process still runs. Reading its /proc entry each
// time (open, the kernel's formatting of the whole status line, a stat, a
// close) was most of that thread's CPU. A process found running once is
// watched through a process file descriptor instead: it stays bound to that
// very process, so a recycled pid cannot pass for it, and it turns readable
// when the process ends (a zombie included), which one poll without waiting
// tells.
struct WatchedProcess {
  ProcessId pid;
  std::wstring imageName;
  int pidfd;
  // Now and then the /proc entry is looked at again: a process that ran
  // another program since would no longer answer to the image name.
  unsigned checksLeft;
};
constexpr std::size_t kMaxWatched = 16;

// One look at the /proc entry of `pid`.
std::optional<bool> StillRunningByProc(ProcessId pid, std::wstring_view imageName);
constexpr unsigned kChecksBetweenLooks = 100;

std::mutex& WatchedMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<WatchedProcess>& Watched() {
  static std::vector<WatchedProcess> watched;
  return watched;
}

int OpenPidfd(ProcessId pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
  return fd >= 0 ? static_cast<int>(fd) : -1;
#else
  (void)pid;
  return -1;
#endif
}

// 1 ended, 0 runs, -1 cannot tell.
int PidfdEnded(int pidfd) {
  pollfd p{pidfd, POLLIN, 0};
  const int n = ::poll(&p, 1, 0);
  if (n < 0) return -1;
  return n > 0 ? 1 : 0;
}

}  // namespace

std::optional<bool> SystemProcessTable::StillRunning(ProcessId pid, std::wstring_view imageName) {
  {
    std::lock_guard lock(WatchedMutex());
    auto& watched = Watched();
    for (auto it = watched.begin(); it != watched.end(); ++it) {
      if (it->pid != pid || it->imageName != imageName) continue;
      const int ended = it->checksLeft > 0 ? PidfdEnded(it->pidfd) : -1;
      if (ended == 0) {
        --it->checksLeft;
        return true;
      }
      ::close(it->pidfd);
      watched.erase(it);
      if (ended == 1) return false;
      break;  // looked at afresh below
    }
  }
  const std::optional<bool> runs = StillRunningByProc(pid, imageName);
  if (!runs || !*runs) return runs;
  const int pidfd = OpenPidfd(pid);
  if (pidfd < 0) return runs;
  // Looked at again with the descriptor open: the process it is bound to is
  // the one /proc shows, unless that one has ended meanwhile.
  if (StillRunningByProc(pid, imageName) != true || PidfdEnded(pidfd) != 0) {
    ::close(pidfd);
    return runs;
  }
  std::lock_guard lock(WatchedMutex());
  auto& watched = Watched();
  if (watched.size() >= kMaxWatched) {
    ::close(watched.front().pidfd);
    watched.erase(watched.begin());
  }
  watched.push_back(WatchedProcess{pid, std::wstring(imageName), pidfd, kChecksBetweenLooks});
  return runs;
}

namespace {
std::optional<bool> StillRunningByProc(ProcessId pid, std::wstring_view imageName) {
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream statFile(dir + "/stat");
  std::string line;
  if (!std::getline(statFile, line)) return false;  // gone
  // "pid (comm) state ...": the name may itself hold ") ".
  const auto open = line.find('(');
  const auto close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open || close + 2 >= line.size()) {
    return std::nullopt;
  }
  const char state = line[close + 2];
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  if (!SameImageName(Utf8ToWide(line.substr(open + 1, close - open - 1)), imageName)) return false;
  struct stat info {};
  return ::stat(dir.c_str(), &info) == 0 && info.st_uid == ::geteuid();
}
}  // namespace

std::optional<ProcessId> SystemProcessTable::StartHidden(const std::wstring& commandLine) {
  const auto words = SplitCommandLine(commandLine);
  if (words.empty()) return std::nullopt;

  // Everything the children need is prepared here: after fork only
  // async-signal-safe calls are allowed (other threads may hold locks).
  std::vector<std::string> args;
  args.reserve(words.size());
  for (const auto& w : words) args.push_back(WideToUtf8(w));
  const std::string program = ResolveProgram(args.front());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  long openMax = ::sysconf(_SC_OPEN_MAX);
  const int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;

  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) return std::nullopt;
  int status[2];
  if (::pipe2(status, O_CLOEXEC) != 0) {
    ::close(devNull);
    return std::nullopt;
  }

  // Double fork: the intermediate child starts a new session (so terminal
  // signals aimed at us never reach the engine), forks the program and exits
  // at once. We reap the intermediate child here; the program is adopted by
  // init (or the nearest subreaper), so it never lingers as our zombie.
  const pid_t starter = ::fork();
  if (starter < 0) {
    ::close(devNull);
    ::close(status[0]);
    ::close(status[1]);
    return std::nullopt;
  }
  if (starter == 0) {
    ::close(status[0]);
    ::setsid();
    const pid_t child = ::fork();
    if (child == 0) {
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
      ::dup2(devNull, STDIN_FILENO);
      ::dup2(devNull, STDOUT_FILENO);
      ::dup2(devNull, STDERR_FILENO);
      CloseInheritedDescriptors(status[1], maxFd);
      ::execve(program.c_str(), argv.data(), environ);
      WriteReport(status[1], kReportExecError, errno);
      ::_exit(127);
    }
    if (child < 0) {
      WriteReport(status[1], kReportExecError, errno);
      ::_exit(1);
    }
    WriteReport(status[1], kReportPid, static_cast<int>(child));
    ::_exit(0);
  }

  ::close(status[1]);
  ::close(devNull);
  while (::waitpid(starter, nullptr, 0) < 0 && errno == EINTR) {
  }
  // The pipe reaches end of file once the program has exec'd (close-on-exec)
  // or reported why it could not.
  ProcessId pid = 0;
  bool failed = false;
  StartReport report{};
  for (;;) {
    const ssize_t n = ::read(status[0], &report, sizeof report);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof report)) break;
    if (report.kind == kReportPid) pid = static_cast<ProcessId>(report.value);
    if (report.kind == kReportExecError) failed = true;
  }
  ::close(status[0]);
  if (failed || pid == 0) return std::nullopt;
  return pid;
}

bool SystemProcessTable::Terminate(ProcessId pid, std::uint32_t /*exitCode*/) {
  if (pid == 0 || pid > static_cast<ProcessId>(INT_MAX)) return false;
  return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

}  // namespace orlin::platform
