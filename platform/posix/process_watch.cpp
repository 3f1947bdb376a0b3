#include "platform/process_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <string>
#include <thread>

namespace orlin::platform {
namespace {

// Alive and not a zombie waiting for its parent.
bool Runs(ProcessId pid) {
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state != 'Z' && state != 'X' && state != 'x';
}

}  // namespace

std::optional<std::filesystem::path> ProcessImagePath(ProcessId pid) {
  std::error_code ec;
  auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  if (ec) return std::nullopt;
  return target;
}

ProcessWait WaitForProcessEnd(ProcessId pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u);
  if (fd < 0 && errno == ESRCH) return ProcessWait::kEnded;
  if (fd >= 0) {
    ProcessWait result = ProcessWait::kStillRuns;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{static_cast<int>(fd), POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX)));
      if (ready > 0) {
        result = ProcessWait::kEnded;
        break;
      }
      if (ready < 0 && errno != EINTR) {
        result = ProcessWait::kCannotWatch;
        break;
      }
    }
    ::close(static_cast<int>(fd));
    return result;
  }
#endif
  // No pidfd here: a look once a second costs next to nothing.
  for (;;) {
    if (!Runs(pid)) return ProcessWait::kEnded;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return ProcessWait::kStillRuns;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::seconds(1)));
  }
}

}  // namespace orlin::platform
