#include "platform/crash_dump.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <system_error>

namespace orlin::platform {
namespace {

// Everything the handler needs is prepared here, before any crash: a signal
// handler may only use what is already in memory.
char g_dumpDir[4096];
char g_altStack[64 * 1024];
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void WriteText(int fd, const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(fd, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<std::size_t>(n);
  }
}

void OnFatalSignal(int sig, siginfo_t* info, void* /*context*/) {
  const time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  const CrashTime t{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
  const unsigned long pid = static_cast<unsigned long>(::getpid());
  const unsigned long tid = static_cast<unsigned long>(::syscall(SYS_gettid));

  ::mkdir(g_dumpDir, 0700);
  char file[4096 + 64];
  std::snprintf(file, sizeof file, "%s/%s", g_dumpDir, CrashDumpFileName(t, pid, tid).c_str());
  const int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) {
    char line[256];
    std::snprintf(line, sizeof line, "Orlin crash report\nsignal %d (%s)\naddress %p\nprocess %lu\nthread %lu\n\n", sig,
                  strsignal(sig), info != nullptr ? info->si_addr : nullptr, pid, tid);
    WriteText(fd, line);
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
  }
  // Let the signal end the process as it would have without us.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

bool InstallCrashHandler(const std::filesystem::path& dumpDir) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(dumpDir, ec);
  const std::string dir = ec ? dumpDir.string() : absolute.string();
  if (dir.size() >= sizeof g_dumpDir) return false;
  std::memcpy(g_dumpDir, dir.c_str(), dir.size() + 1);

  // A stack overflow leaves no stack for the handler: give it its own.
  stack_t stack{};
  stack.ss_sp = g_altStack;
  stack.ss_size = sizeof g_altStack;
  ::sigaltstack(&stack, nullptr);

  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  bool ok = true;
  for (int sig : kFatalSignals) ok = ::sigaction(sig, &action, nullptr) == 0 && ok;
  return ok;
}

}  // namespace orlin::platform
