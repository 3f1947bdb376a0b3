// The desktop shell on Linux: xdg-open, and the file manager's D-Bus
// interface for showing a selected file.

#include "platform/shell.h"

#include "common/utf/utf.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace orlin::platform {
namespace {

// Seconds the file manager gets to answer before the folder is opened
// instead.
constexpr const char* kFileManagerTimeoutSeconds = "10";
constexpr const char* kFileManagerTimeoutMs = "10000";

// One program to run: its resolved path and its words (the first is the
// name it is called by).
struct Command {
  std::string program;
  std::vector<std::string> words;
};

// `name` looked up in PATH; nullopt when no executable file of that name is
// there. Done before any fork: the search allocates.
std::optional<std::string> FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t begin = 0;
  while (begin <= dirs.size()) {
    std::size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(begin, end - begin);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    begin = end + 1;
  }
  return std::nullopt;
}

std::optional<Command> MakeCommand(const std::string& name, std::vector<std::string> args) {
  auto program = FindProgram(name);
  if (!program) return std::nullopt;
  Command c{*program, {name}};
  for (auto& a : args) c.words.push_back(std::move(a));
  return c;
}

// Runs the commands one after the other in a detached process: each runs
// only when the one before could not be started or exited with a failure,
// so a chain is "try this, else that". Returns whether the detached process
// could be made; it is never waited for.
bool RunDetached(const std::vector<Command>& chain) {
  if (chain.empty()) return false;

  // Everything the children use is made here: after fork only
  // async-signal-safe calls are allowed (other threads may hold locks).
  std::vector<std::vector<char*>> argvs;
  for (const auto& c : chain) {
    std::vector<char*> argv;
    for (const auto& w : c.words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    argvs.push_back(std::move(argv));
  }
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) return false;

  // Double fork: the intermediate process starts a new session and exits at
  // once, so the runner is adopted by init and never lingers as our zombie,
  // and the caller only waits for that short exit.
  const pid_t starter = ::fork();
  if (starter < 0) {
    ::close(devNull);
    return false;
  }
  if (starter == 0) {
    ::setsid();
    const pid_t runner = ::fork();
    if (runner != 0) ::_exit(runner < 0 ? 1 : 0);

    // The runner waits for each program itself: SIGCHLD must not be ignored
    // (inherited SIG_IGN would reap them before waitpid sees them).
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
      for (int fd = 3; fd < maxFd; ++fd) ::close(fd);

    for (std::size_t i = 0; i < chain.size(); ++i) {
      const pid_t child = ::fork();
      if (child == 0) {
        ::execve(chain[i].program.c_str(), argvs[i].data(), environ);
        ::_exit(127);
      }
      if (child < 0) continue;
      int status = 0;
      pid_t done;
      do {
        done = ::waitpid(child, &status, 0);
      } while (done < 0 && errno == EINTR);
      if (done == child && WIFEXITED(status) && WEXITSTATUS(status) == 0) ::_exit(0);
    }
    ::_exit(1);
  }

  ::close(devNull);
  int status = 0;
  while (::waitpid(starter, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::filesystem::path Absolute(const std::filesystem::path& p) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(p, ec);
  return ec ? p : abs.lexically_normal();
}

// The path as xdg-open gets it: absolute, so it always begins with "/" and
// is never read as an option.
std::string ShellPath(const std::filesystem::path& p) {
  std::string s = Absolute(p).string();
  // lexically_normal keeps a trailing separator ("/a/b/"); xdg-open does not
  // mind it, but the folder of an item is computed without it.
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool HasSessionBus() {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return bus != nullptr && *bus != '\0';
}

}  // namespace

std::string FileUri(const std::filesystem::path& absolutePath) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : absolutePath.string()) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.' || c == '~' || c == '/';
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

bool OpenFolder(const std::filesystem::path& folder) {
  auto open = MakeCommand("xdg-open", {ShellPath(folder)});
  if (!open) return false;
  return RunDetached({*open});
}

bool ShowItemInFolder(const std::filesystem::path& item) {
  const std::string path = ShellPath(item);
  std::vector<Command> chain;
  if (HasSessionBus()) {
    // The URI is percent-encoded down to letters, digits, "-_.~/%:", so it
    // can stand inside the quotes of a GVariant text and in a dbus-send
    // array (which splits at commas) without any escaping.
    const std::string uri = FileUri(path);
    if (auto gdbus = MakeCommand("gdbus", {"call", "--session", "--timeout", kFileManagerTimeoutSeconds, "--dest",
                                           "org.freedesktop.FileManager1", "--object-path",
                                           "/org/freedesktop/FileManager1", "--method",
                                           "org.freedesktop.FileManager1.ShowItems", "['" + uri + "']", "''"})) {
      chain.push_back(std::move(*gdbus));
    } else if (auto send = MakeCommand("dbus-send",
                                       {"--session", "--print-reply", std::string("--reply-timeout=") + kFileManagerTimeoutMs,
                                        "--dest=org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                        "org.freedesktop.FileManager1.ShowItems", "array:string:" + uri, "string:"})) {
      chain.push_back(std::move(*send));
    }
  }
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = "/";
  if (auto open = MakeCommand("xdg-open", {folder})) chain.push_back(std::move(*open));
  return RunDetached(chain);
}

bool StartProgram(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                  const std::filesystem::path& workingDirectory) {
  // Everything the child uses is made before the fork (see RunDetached).
  const std::string file = program.string();
  const std::string dir = workingDirectory.string();
  std::vector<std::string> words{file};
  for (const auto& a : arguments) words.push_back(WideToUtf8(a));
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  if (::access(file.c_str(), X_OK) != 0) return false;
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) return false;
  int status[2];
  if (::pipe2(status, O_CLOEXEC) != 0) {
    ::close(devNull);
    return false;
  }
  // Double fork as in RunDetached, but the program replaces the runner: it
  // is adopted by init and nothing of ours waits beside it. The pipe tells
  // whether the exec worked (it closes on exec, or carries a byte).
  const pid_t starter = ::fork();
  if (starter < 0) {
    ::close(devNull);
    ::close(status[0]);
    ::close(status[1]);
    return false;
  }
  if (starter == 0) {
    ::setsid();
    const pid_t runner = ::fork();
    if (runner != 0) ::_exit(runner < 0 ? 1 : 0);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    for (int fd = 3; fd < maxFd; ++fd) {
      if (fd != status[1]) ::close(fd);
    }
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
      const char failed = 1;
      (void)!::write(status[1], &failed, 1);
      ::_exit(127);
    }
    ::execve(file.c_str(), argv.data(), environ);
    const char failed = 1;
    (void)!::write(status[1], &failed, 1);
    ::_exit(127);
  }
  ::close(devNull);
  ::close(status[1]);
  int code = 0;
  while (::waitpid(starter, &code, 0) < 0) {
    if (errno != EINTR) break;
  }
  char failed = 0;
  ssize_t n;
  do {
    n = ::read(status[0], &failed, 1);
  } while (n < 0 && errno == EINTR);
  ::close(status[0]);
  return WIFEXITED(code) && WEXITSTATUS(code) == 0 && n == 0;
}

bool OpenUrl(const std::string& url) {
  auto startsWith = [&url](const char* scheme) {
    std::size_t n = std::char_traits<char>::length(scheme);
    if (url.size() <= n) return false;
    for (std::size_t i = 0; i < n; ++i) {
      char c = url[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != scheme[i]) return false;
    }
    return true;
  };
  if (!startsWith("https://") && !startsWith("http://")) return false;
  for (unsigned char c : url) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  auto open = MakeCommand("xdg-open", {url});
  if (!open) return false;
  return RunDetached({*open});
}

}  // namespace orlin::platform
