#pragma once
// orlin-cli as the fault tests run it: the built program in a process
// namespace of its own (its start-up ends every engine it can see, so it must
// see only its own; the namespace ends that engine with the run), started in
// the background so a test can do things to it and to its engine while it
// runs, and killed at any moment. Helpers to find the install's engine
// processes and to check what a run left on disk.
//
// POSIX only; the test process must already be in its private network
// namespace (namespace_guard.h).

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/atomic_file.h"
#include "common/install_layout.h"

namespace orlin::faults {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The words of /proc/<pid>/cmdline; empty for a process that is gone.
inline std::vector<std::string> CommandLineOf(pid_t pid) {
  const std::string raw = ReadText("/proc/" + std::to_string(pid) + "/cmdline");
  std::vector<std::string> words;
  std::string word;
  for (char c : raw) {
    if (c == '\0') {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  return words;
}

// The state letter and the parent of a process; nullopt when it is gone.
struct ProcStat {
  char state = '?';
  pid_t parent = 0;
};
inline std::optional<ProcStat> StatOf(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size()) return std::nullopt;
  std::istringstream rest(stat.substr(close + 2));
  ProcStat out;
  rest >> out.state >> out.parent;
  return out;
}

inline bool Alive(pid_t pid) {
  const auto stat = StatOf(pid);
  return stat && stat->state != 'Z' && stat->state != 'X';
}

inline std::vector<pid_t> AllPids() {
  std::vector<pid_t> pids;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    pids.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return pids;
}

// The live engine processes (monitor and child) of the install whose engine
// home is `home`: they name it on their command line.
inline std::vector<pid_t> EnginePids(const fs::path& home) {
  std::vector<pid_t> found;
  const std::string flag = "-home=" + home.string();
  for (pid_t pid : AllPids()) {
    if (!Alive(pid)) continue;
    for (const std::string& word : CommandLineOf(pid)) {
      if (word == flag || word == "-" + flag) {
        found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

inline void SignalAll(const std::vector<pid_t>& pids, int signal) {
  for (pid_t pid : pids) ::kill(pid, signal);
}

// Polls `done` every 20 ms until it holds or `limit` passes.
template <typename Done>
bool WaitFor(Done&& done, std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  while (!done()) {
    if (SteadyClock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class CliProcess {
 public:
  struct Options {
    // What standard input holds (the password of a login, say).
    std::string input;
    // The install directory is mounted read-only for the run alone, as for
    // a user who may not write there (root ignores permission bits).
    bool readOnlyInstall = false;
  };

  // Starts `orlin-cli --install-dir <installDir> <words>`; its output goes
  // to files under `scratch`.
  CliProcess(const fs::path& cli, const fs::path& scratch, const fs::path& installDir,
             const std::vector<std::string>& words, Options options)
      : out_(scratch / ("cli-" + std::to_string(Serial()) + ".out")),
        err_(fs::path(out_).replace_extension(".err")),
        began_(SteadyClock::now()) {
    const fs::path in = fs::path(out_).replace_extension(".in");
    std::ofstream(in, std::ios::binary) << options.input;
    std::vector<std::string> argv = {"unshare", "-p", "-f", "--mount-proc", "--kill-child"};
    std::vector<std::string> program = {cli.string(), "--install-dir", installDir.string()};
    program.insert(program.end(), words.begin(), words.end());
    if (options.readOnlyInstall) {
      // The mount namespace is the run's own (--mount-proc makes one).
      argv.insert(argv.end(), {"sh", "-c",
                               "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && shift && exec \"$@\"",
                               "sh", installDir.string()});
    }
    argv.insert(argv.end(), program.begin(), program.end());

    std::vector<char*> raw;
    for (std::string& word : argv) raw.push_back(word.data());
    raw.push_back(nullptr);
    const std::string inPath = in.string(), outPath = out_.string(), errPath = err_.string();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int inFd = ::open(inPath.c_str(), O_RDONLY);
      const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (inFd < 0 || outFd < 0 || errFd < 0) ::_exit(127);
      ::dup2(inFd, 0);
      ::dup2(outFd, 1);
      ::dup2(errFd, 2);
      ::execvp("unshare", raw.data());
      ::_exit(127);
    }
  }
  ~CliProcess() {
    if (!ended_) {
      Kill();
      Wait(std::chrono::seconds(30));
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  // orlin-cli itself (the namespace's first process), once it runs.
  std::optional<pid_t> CliPid() const {
    for (pid_t pid : AllPids()) {
      const auto stat = StatOf(pid);
      if (stat && stat->parent == pid_) return pid;
    }
    return std::nullopt;
  }

  // Kills orlin-cli at once (SIGKILL), as a crash or the task manager would;
  // its engine ends with its namespace.
  void Kill() {
    if (pid_ <= 0 || ended_) return;
    if (const auto cli = CliPid()) ::kill(*cli, SIGKILL);
    // --kill-child takes orlin-cli along should unshare itself go first.
    ::kill(pid_, SIGKILL);
  }

  // The exit code, or nullopt when the run did not end within `limit`
  // (it is then killed) or ended by a signal.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return std::nullopt;
    if (!ended_) {
      const auto deadline = SteadyClock::now() + limit;
      for (;;) {
        const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
        if (done == pid_) break;
        if (done < 0 && errno != EINTR) break;
        if (SteadyClock::now() >= deadline) {
          timedOut_ = true;
          Kill();
          ::waitpid(pid_, &status_, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ended_ = true;
      took_ = SteadyClock::now() - began_;
    }
    if (timedOut_ || !WIFEXITED(status_)) return std::nullopt;
    return WEXITSTATUS(status_);
  }

  bool Running() {
    if (ended_) return false;
    const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      took_ = SteadyClock::now() - began_;
    }
    return !ended_;
  }

  bool TimedOut() const { return timedOut_; }
  SteadyClock::duration Took() const { return took_; }
  std::string Out() const { return ReadText(out_); }
  std::string Err() const { return ReadText(err_); }

 private:
  static int Serial() {
    static int serial = 0;
    return ++serial;
  }

  fs::path out_;
  fs::path err_;
  SteadyClock::time_point began_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  bool timedOut_ = false;
  SteadyClock::duration took_{};
};

// Temporary files of Orlin's whole-file writes under `dir` (recursively),
// with their permission bits.
inline std::vector<std::pair<fs::path, unsigned>> OrlinTemporaryFiles(const fs::path& dir) {
  std::vector<std::pair<fs::path, unsigned>> found;
  std::error_code error;
  if (!fs::exists(dir, error)) return found;
  for (auto it = fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    if (!IsAtomicWriteTemporaryName(it->path().filename().string())) continue;
    struct stat st {};
    const unsigned mode = ::stat(it->path().c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    found.emplace_back(it->path(), mode);
  }
  return found;
}

}  // namespace orlin::faults
