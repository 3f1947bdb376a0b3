// The built program with the real engine, offscreen, driven through
// orlin-ctl: without an account it shows the login window, and closing that
// window ends the program and its engine; with an account the login window
// is skipped and the main view opens and follows the engine. Each run has a
// network namespace (the test's) and a process namespace of its own, so the
// program sees no engine but its own.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = 120s;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct CtlRun {
  int exitCode = -1;
  std::string out;
};

class ProgramEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs a process namespace (root)";
    }
    install = std::make_unique<testsupport::ScratchInstall>("install dir");
    ASSERT_EQ(install->error(), "");
    const fs::path built(ORLIN_PROGRAM_DIR);
    fs::copy_file(built / "orlin", dir() / "orlin");
    for (const auto& entry : fs::directory_iterator(built)) {
      if (entry.path().extension() == ".xml") {
        fs::copy_file(entry.path(), dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
      }
    }
    fs::copy(built / "res", dir() / "res", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }

  void TearDown() override { Stop(); }

  const fs::path& dir() const { return install->installDir(); }

  void StartProgram() {
    const fs::path out = install->root() / "orlin.out";
    const std::string command = "exec unshare -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=offscreen "
                                "ORLIN_AUTOMATION=1 '" +
                                (dir() / "orlin").string() + "' >>'" + out.string() + "' 2>&1";
    program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  // orlin-ctl reaches the program once its automation listens.
  bool WaitForAutomation() {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!fs::exists(dir() / "orlin-automation.sock")) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "the program's automation never listened; it said: "
                      << ReadFile(install->root() / "orlin.out");
        return false;
      }
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }

  // Waits for the program to end by itself; its exit status, or -1.
  int WaitForEnd() {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(program, &status, WNOHANG) == program) {
        program = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "the program did not end; it said: " << ReadFile(install->root() / "orlin.out");
    return -1;
  }

  void Stop() {
    if (program <= 0) return;
    // unshare passes SIGTERM by; killed, it takes the program and its engine
    // with it (--kill-child ends the process namespace).
    ::kill(program, SIGKILL);
    int status = 0;
    ::waitpid(program, &status, 0);
    program = -1;
    // The namespace's processes are ended a moment after unshare itself; a
    // start before the program is gone finds its instance lock still held
    // and ends at once, as a second start should.
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    const fs::path lock = dir() / "EVENT_ORLIN_HERE.lock";
    for (;;) {
      const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0) break;  // never started far enough to take it
      const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
      ::close(fd);
      if (free) break;
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "the killed program still holds its instance lock";
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
  }

  CtlRun Ctl(const std::string& words) {
    const fs::path out = install->root() / "ctl.out";
    const std::string command = "timeout 180 '" ORLIN_CTL_PATH "' --install-dir '" + dir().string() + "' " + words +
                                " >'" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out)};
  }

  void Shoot(const std::string& windowClass, const std::string& file) {
    if (const char* shots = std::getenv("ORLIN_SCREENSHOT_DIR")) {
      CtlRun shot = Ctl("shot " + windowClass + " '" + (fs::path(shots) / file).string() + "'");
      EXPECT_EQ(shot.exitCode, 0) << shot.out;
    }
  }

  std::unique_ptr<testsupport::ScratchInstall> install;
  pid_t program = -1;
};

TEST_F(ProgramEndToEnd, WithoutAnAccountTheLoginWindowShowsAndClosingItEndsTheProgram) {
  StartProgram();
  ASSERT_TRUE(WaitForAutomation());
  CtlRun shown = Ctl("wait-window UILoginWnd --timeout 120");
  ASSERT_EQ(shown.exitCode, 0) << shown.out << ReadFile(install->root() / "orlin.out");
  Shoot("UILoginWnd", "program-login.png");
  CtlRun windows = Ctl("windows");
  EXPECT_EQ(windows.out.find("UIOrlinFrameWnd Orlin visible"), std::string::npos)
      << "the main view stays hidden while the login window shows: " << windows.out;

  CtlRun closed = Ctl("click UILoginWnd CLOSEBTN");
  EXPECT_EQ(closed.exitCode, 0) << closed.out;
  EXPECT_EQ(WaitForEnd(), 0);
  // The engine ended with the program.
  EXPECT_TRUE(install->EngineProcesses().empty());
}

TEST_F(ProgramEndToEnd, WithAnAccountTheMainViewOpensAndFollowsTheEngine) {
  // A first run lets the engine write its configuration; the login marker
  // then stands for a completed login.
  StartProgram();
  ASSERT_TRUE(WaitForAutomation());
  ASSERT_EQ(Ctl("wait-window UILoginWnd --timeout 120").exitCode, 0);
  Stop();
  fs::remove(dir() / "orlin-automation.sock");
  ASSERT_TRUE(fs::exists(install->layout().EngineConfig()));
  std::ofstream(install->layout().Marker()) << "";

  StartProgram();
  ASSERT_TRUE(WaitForAutomation());
  CtlRun shown = Ctl("wait-window UIOrlinFrameWnd --timeout 120");
  ASSERT_EQ(shown.exitCode, 0) << shown.out << ReadFile(install->root() / "orlin.out");
  EXPECT_EQ(Ctl("windows").out.find("UILoginWnd"), std::string::npos) << "no login window after a login";
  // The status area leaves the start-up key once the poller hears from the
  // engine.
  bool moved = false;
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  std::string text;
  while (!moved && std::chrono::steady_clock::now() < end) {
    text = Ctl("get UIOrlinFrameWnd EVENTLABEL").out;
    moved = !text.empty() && text.find("Orlin Prestart") == std::string::npos &&
            text.find("Orlin 准备启动") == std::string::npos;
    if (!moved) std::this_thread::sleep_for(500ms);
  }
  EXPECT_TRUE(moved) << "the status still reads " << text;
  Shoot("UIOrlinFrameWnd", "program-main.png");

  // Ctrl+Shift+L shows the log tab through the program's key handling.
  EXPECT_EQ(Ctl("key UIOrlinFrameWnd ctrl+shift+l").exitCode, 0);
  EXPECT_NE(Ctl("get UIOrlinFrameWnd LOGBTN --attr visible").out.find("true"), std::string::npos);
}

TEST_F(ProgramEndToEnd, AMissingImageLeavesTheLoginWindowOpenAndIsNamedInTheRunLog) {
  const fs::path logo = dir() / "res" / "login" / "logo.png";
  ASSERT_TRUE(fs::remove(logo));
  StartProgram();
  ASSERT_TRUE(WaitForAutomation());
  CtlRun shown = Ctl("wait-window UILoginWnd --timeout 120");
  ASSERT_EQ(shown.exitCode, 0) << shown.out;
  EXPECT_NE(Ctl("get UILoginWnd LOGINBTN --attr visible").out.find("true"), std::string::npos)
      << "the window opens with what it has";
  // The run log opens with the controller's start-up; the line waits for it.
  const std::string wanted = "image missing or unreadable: " + logo.string();
  std::string logged;
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (logged.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(100ms);
    logged.clear();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir() / "log", ec)) logged += ReadFile(entry.path());
  }
  EXPECT_NE(logged.find(wanted), std::string::npos)
      << "waited " << kDeadline.count() << " s for the run log to name the missing image; it holds: " << logged;
}

}  // namespace
}  // namespace orlin
