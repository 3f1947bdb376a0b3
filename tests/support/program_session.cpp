#include "tests/support/program_session.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/single_instance.h"
#include "tests/support/namespace_guard.h"

namespace orlin::testsupport {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool Installed(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The exit status of a reaped child as a shell reports it.
int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Standard output and error of a child about to exec into `log` (appended).
void LogTo(const fs::path& log, bool output) {
  std::FILE* file = std::fopen(log.c_str(), "a");
  if (file == nullptr) return;
  if (output) ::dup2(::fileno(file), STDOUT_FILENO);
  ::dup2(::fileno(file), STDERR_FILENO);
}

}  // namespace

void EndChild(pid_t& pid, int signal) {
  if (pid <= 0) return;
  ::kill(pid, signal);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

VirtualDisplay::VirtualDisplay(const fs::path& logDir, bool withTray) {
  // Xvfb picks a free display number and writes it to the pipe once it
  // accepts clients.
  int fds[2];
  if (::pipe(fds) != 0) return;
  xvfb_ = ::fork();
  if (xvfb_ == 0) {
    ::close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    LogTo(logDir / "xvfb.log", false);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "1280x900x24",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  char c = 0;
  while (xvfb_ > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (number.empty()) return;
  display_ = ":" + number;
  if (!withTray) return;
  tray_ = ::fork();
  if (tray_ == 0) {
    LogTo(logDir / "trayer.log", true);
    ::setenv("DISPLAY", display_.c_str(), 1);
    ::execlp("trayer", "trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
}

VirtualDisplay::~VirtualDisplay() {
  EndChild(tray_, SIGTERM);
  EndChild(xvfb_, SIGTERM);
}

ProgramSession::~ProgramSession() = default;

std::string ProgramSession::ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ProgramSession::Quote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void ProgramSession::SetUpProgram(const ProgramSetup& setup) {
  ORLIN_REQUIRE_PRIVATE_NETWORK();
  const std::string reason = EngineUnavailableReason();
  if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
  if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs a process namespace (root)";
  }
  if (setup.display == ProgramDisplay::kVirtualWithTray && (!Installed("Xvfb") || !Installed("trayer"))) {
    GTEST_SKIP() << "needs Xvfb and trayer for a display with a notification area (scripts/setup installs them)";
  }
  if (setup.display == ProgramDisplay::kVirtual && !Installed("Xvfb")) {
    GTEST_SKIP() << "needs Xvfb for a display (scripts/setup installs it)";
  }
  ctl_ = setup.ctl;
  const auto colon = setup.account.find(':');
  user_ = setup.account.substr(0, colon);
  password_ = colon == std::string::npos ? std::string() : setup.account.substr(colon + 1);

  LayOutInstall(setup);
  if (HasFatalFailure()) return;
  if (setup.display != ProgramDisplay::kOffscreen) {
    display_ = std::make_unique<VirtualDisplay>(install->root(), setup.display == ProgramDisplay::kVirtualWithTray);
    ASSERT_FALSE(display_->display().empty()) << "Xvfb did not start: " << ReadFile(Scratch("xvfb.log"));
  }
  if (!setup.account.empty()) {
    server = std::make_unique<TarnServer>(Scratch("nas"), kTarnServerPort, setup.account);
    ASSERT_EQ(server->deviceId().size(), 63u) << "the Tarn server stand-in did not start";
  }
  if (!setup.signInWith.empty()) SignIn(setup);
}

void ProgramSession::LayOutInstall(const ProgramSetup& setup) {
  install = std::make_unique<ScratchInstall>("install dir");
  ASSERT_EQ(install->error(), "");
  std::error_code error;
  fs::copy_file(setup.programDir / "orlin", Program(), error);
  ASSERT_FALSE(error) << "cannot copy the built program: " << error.message();
  for (const fs::path& program : setup.beside) {
    fs::copy_file(program, dir() / program.filename(), error);
    ASSERT_FALSE(error) << "cannot copy " << program << ": " << error.message();
  }
  // The skins and images lie beside the program, as in an install.
  for (const auto& entry : fs::directory_iterator(setup.programDir)) {
    if (entry.path().extension() == ".xml") {
      fs::copy_file(entry.path(), dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
    }
  }
  fs::copy(setup.programDir / "res", dir() / "res", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  if (setup.english) {
    std::ofstream(dir() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin><lang>en</lang></Orlin>\n";
  }
}

void ProgramSession::SignIn(const ProgramSetup& setup) {
  ASSERT_TRUE(server) << "a sign-in needs the stand-in's account";
  fs::create_directories(Folder());
  // In a process namespace of its own, like the program: the sign-in stops
  // every engine it sees (another test's, another user's of this machine),
  // and the engine it leaves running ends with the namespace.
  const std::string login = "timeout 300 unshare -p -f --mount-proc " + Quote(setup.signInWith.string()) +
                            " --install-dir " + Quote(dir().string()) + " login --server " + TarnServerAddress() +
                            " --user " + Quote(user_) + " --password " + Quote(password_) + " --folder " +
                            Quote(Folder().string()) + " >" + Quote(Scratch("login.out").string()) + " 2>&1 </dev/null";
  ASSERT_EQ(std::system(login.c_str()), 0) << ReadFile(Scratch("login.out"));
  ASSERT_TRUE(install->KillEngineProcesses());
}

void ProgramSession::TearDown() {
  Stop();
  server.reset();
  display_.reset();
}

std::string ProgramSession::ProgramSaid() const {
  std::string said = ReadFile(Scratch("orlin.out"));
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir() / "dmp", error)) {
    said += "\ncrash report " + entry.path().filename().string() + ":\n" + ReadFile(entry.path());
  }
  return said;
}

std::string ProgramSession::ProgramEnvironment() const {
  const std::string display =
      display_ ? "QT_QPA_PLATFORM=xcb DISPLAY=" + display_->display() : std::string("QT_QPA_PLATFORM=offscreen");
  return "env " + display + " ORLIN_AUTOMATION=1 XDG_CONFIG_HOME=" + Quote(Scratch("config").string());
}

bool ProgramSession::StartInNamespace(const std::string& firstProcess) {
  if (program_ > 0) {
    ADD_FAILURE() << "the program's namespace still runs";
    return false;
  }
  // A killed program leaves its socket behind; only a listening program may
  // end the wait below.
  const fs::path socket = dir() / "orlin-automation.sock";
  std::error_code error;
  fs::remove(socket, error);
  // unshare passes SIGTERM by; killed, it takes the namespace with it
  // (--kill-child).
  const std::string command = "exec unshare -p -f --mount-proc --kill-child " + ProgramEnvironment() + " " +
                              firstProcess + " >>" + Quote(Scratch("orlin.out").string()) + " 2>&1";
  program_ = ::fork();
  if (program_ < 0) {
    ADD_FAILURE() << "cannot start the program's namespace";
    return false;
  }
  if (program_ == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int ended = -1;
  const bool listens = WaitUntil(
      [&] {
        int status = 0;
        if (::waitpid(program_, &status, WNOHANG) == program_) {
          program_ = -1;
          ended = ExitStatus(status);
          return true;  // nothing will listen now
        }
        return fs::exists(socket);
      },
      "the program's automation to listen", 50ms);
  if (ended >= 0) ADD_FAILURE() << "the program ended (" << ended << ") before it listened: " << ProgramSaid();
  return listens && ended < 0;
}

int ProgramSession::WaitForEnd() {
  if (program_ <= 0) {
    ADD_FAILURE() << "no program runs to end";
    return -1;
  }
  int code = -1;
  const bool ended = WaitUntil(
      [&] {
        int status = 0;
        if (::waitpid(program_, &status, WNOHANG) != program_) return false;
        program_ = -1;
        code = ExitStatus(status);
        return true;
      },
      "the program to end", 50ms);
  return ended ? code : -1;
}

void ProgramSession::Stop() {
  if (program_ <= 0) return;
  EndChild(program_, SIGKILL);
  // The namespace's processes are ended a moment after unshare itself; a
  // start before the program is gone finds its instance lock still held and
  // ends at once, as a second start should.
  WaitUntil(
      [&] {
        const platform::SingleInstanceGuard probe(platform::kInstanceEventName, dir());
        return !probe.AnotherInstanceRuns();
      },
      "the killed program to give up its instance lock", 20ms);
}

ProgramSession::CtlRun ProgramSession::Ctl(const std::string& words, const std::string& outName) {
  const fs::path out = Scratch(outName);
  const std::string command = "timeout 180 " + Quote(ctl_.string()) + " --install-dir " + Quote(dir().string()) + " " +
                              words + " >" + Quote(out.string()) + " 2>&1";
  const int status = std::system(command.c_str());
  std::string text = ReadFile(out);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

std::string ProgramSession::Must(const std::string& words) {
  CtlRun run = Ctl(words);
  EXPECT_EQ(run.exitCode, 0) << "orlin-ctl " << words << ": " << run.out;
  return run.out;
}

bool ProgramSession::WaitWindow(const std::string& windowClass) {
  const CtlRun run = Ctl("wait-window " + Quote(windowClass) + " --timeout " + std::to_string(kDeadline.count()));
  if (run.exitCode == 0) return true;
  ADD_FAILURE() << "no window " << windowClass << ": " << run.out << "\nthe windows: " << Ctl("windows").out
                << "\nthe program said: " << ProgramSaid();
  return false;
}

bool ProgramSession::WaitText(const std::string& windowClass, const std::string& control, const std::string& text) {
  const CtlRun run = Ctl("wait " + Quote(windowClass) + " " + Quote(control) + " " + Quote(text) + " --timeout " +
                         std::to_string(kDeadline.count()));
  if (run.exitCode == 0) return true;
  ADD_FAILURE() << control << " of " << windowClass << " never read \"" << text << "\": " << run.out
                << "; it reads \"" << Ctl("get " + Quote(windowClass) + " " + Quote(control)).out << "\"";
  return false;
}

bool ProgramSession::WindowListed(const std::string& text) { return Ctl("windows").out.find(text) != std::string::npos; }

void ProgramSession::Shoot(const std::string& windowClass, const std::string& file) {
  if (const char* shots = std::getenv("ORLIN_SCREENSHOT_DIR")) {
    const CtlRun shot = Ctl("shot " + Quote(windowClass) + " " + Quote((fs::path(shots) / file).string()));
    EXPECT_EQ(shot.exitCode, 0) << shot.out;
  }
}

bool ProgramSession::WaitUntil(const std::function<bool()>& done, const std::string& what,
                               std::chrono::milliseconds every) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      ADD_FAILURE() << "gave up after " << kDeadline.count() << " s waiting for " << what
                    << "; the program said: " << ProgramSaid();
      return false;
    }
    std::this_thread::sleep_for(every);
  }
  return true;
}

}  // namespace orlin::testsupport
