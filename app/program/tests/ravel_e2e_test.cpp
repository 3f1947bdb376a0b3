// ravel, the file managers' "Using Orlin to Synchronize", end to end with
// the built programs, the real engine and the Tarn server stand-in: with no
// Orlin running, ravel starts one that copies the folder once its main view
// is up; with Orlin running, ravel hands it the folder, the copy window
// shows and ravel returns when it closed; a second start of Orlin with a
// path hands it over the same way; the sync folder itself is refused with a
// message. The copied files reach the NAS.
//
// Orlin runs offscreen in a process namespace of its own inside the test's
// private network; the namespace's first process is a shell that stays, so
// an Orlin that ravel started is not ended when ravel ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// CI is a loaded two-core machine.
constexpr auto kDeadline = 120s;
constexpr std::uint16_t kServerPort = 8443;
constexpr char kUser[] = "ann";
constexpr char kPassword[] = "ann-password";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct CtlRun {
  int exitCode = -1;
  std::string out;
};

class RavelEndToEnd : public ::testing::Test {
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
    fs::copy_file(ORLIN_RAVEL_PATH, dir() / "ravel");
    for (const auto& entry : fs::directory_iterator(built)) {
      if (entry.path().extension() == ".xml") {
        fs::copy_file(entry.path(), dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
      }
    }
    fs::copy(built / "res", dir() / "res", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::ofstream(dir() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin><lang>en</lang></Orlin>\n";

    server = std::make_unique<testsupport::TarnServer>(install->root() / "nas", kServerPort,
                                                       std::string(kUser) + ":" + kPassword);
    ASSERT_FALSE(server->deviceId().empty()) << "the Tarn server stand-in did not start";
    // Signed in before Orlin starts, so it opens the main view.
    fs::create_directories(Folder());
    const std::string login = "timeout 300 " + Quote(ORLIN_CLI_PATH) + " --install-dir " + Quote(dir().string()) +
                              " login --server https://127.0.0.1:" + std::to_string(kServerPort) + " --user " + kUser +
                              " --password " + kPassword + " --folder " + Quote(Folder().string()) + " >" +
                              Quote(Scratch("login.out").string()) + " 2>&1 </dev/null";
    ASSERT_EQ(std::system(login.c_str()), 0) << ReadFile(Scratch("login.out"));
    ASSERT_TRUE(install->KillEngineProcesses());
  }

  void TearDown() override {
    if (space > 0) {
      // --kill-child: the namespace and everything in it go with it.
      ::kill(space, SIGKILL);
      int status = 0;
      ::waitpid(space, &status, 0);
    }
    server.reset();
  }

  const fs::path& dir() const { return install->installDir(); }
  fs::path Scratch(const std::string& name) const { return install->root() / name; }
  fs::path Folder() const { return Scratch("Tarn folder"); }
  fs::path NasFolder() const { return Scratch("nas") / "folders" / kUser; }

  // `command` as the first words of a process namespace whose shell then
  // stays, offscreen, with orlin-ctl's automation.
  void StartInNamespace(const std::string& command) {
    const std::string line = "exec unshare -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=offscreen "
                             "ORLIN_AUTOMATION=1 sh -c " +
                             Quote(command + " >>" + Quote(Scratch("ravel-first.out").string()) +
                                   " 2>&1; exec sleep 100000") +
                             " >>" + Quote(Scratch("orlin.out").string()) + " 2>&1";
    space = ::fork();
    ASSERT_GE(space, 0);
    if (space == 0) {
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  // ravel in the background (it returns when the copy window closed).
  pid_t StartRavel(const fs::path& path, const std::string& out) {
    const std::string line = "exec " + Quote((dir() / "ravel").string()) + " " + Quote(path.string()) + " >" +
                             Quote(Scratch(out).string()) + " 2>&1";
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }

  // The exit code of a ravel that ends within the deadline, or -1.
  int WaitForRavel(pid_t pid) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(100ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ADD_FAILURE() << "ravel did not return within " << kDeadline.count() << " s";
    return -1;
  }

  bool RavelStillWaits(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

  CtlRun Ctl(const std::string& words) {
    const fs::path out = Scratch("ctl.out");
    const std::string command = "timeout 180 " + Quote(ORLIN_CTL_PATH) + " --install-dir " + Quote(dir().string()) +
                                " " + words + " >" + Quote(out.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    std::string text = ReadFile(out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }

  void Shoot(const std::string& windowClass, const std::string& file) {
    if (const char* shots = std::getenv("ORLIN_SCREENSHOT_DIR")) {
      CtlRun shot = Ctl("shot " + windowClass + " " + Quote((fs::path(shots) / file).string()));
      EXPECT_EQ(shot.exitCode, 0) << shot.out;
    }
  }

  bool WaitUntil(const std::function<bool()>& done, const std::string& what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up after " << kDeadline.count() << " s waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(200ms);
    }
    return true;
  }

  // What the crash handler wrote, if Orlin ended by a crash.
  std::string CrashReports() {
    std::string out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir() / "dmp", ec)) out += ReadFile(entry.path());
    return out;
  }

  // A folder of files to hand over: a sub-folder, blanks and characters
  // outside ASCII in the names.
  fs::path MakeSource(const std::string& name, const std::string& tag) {
    const fs::path source = Scratch(name);
    fs::create_directories(source / "sub folder");
    std::ofstream(source / ("a " + tag + ".txt")) << "first file of " << tag;
    std::ofstream(source / ("同步 " + tag + ".txt")) << "second file of " << tag;
    std::ofstream(source / "sub folder" / (tag + "-inner.bin")) << std::string(300000, 'x');
    return source;
  }

  bool Arrived(const fs::path& root, const std::string& tag) {
    return ReadFile(root / ("a " + tag + ".txt")) == "first file of " + tag &&
           ReadFile(root / ("同步 " + tag + ".txt")) == "second file of " + tag &&
           ReadFile(root / "sub folder" / (tag + "-inner.bin")) == std::string(300000, 'x');
  }

  std::unique_ptr<testsupport::ScratchInstall> install;
  std::unique_ptr<testsupport::TarnServer> server;
  pid_t space = -1;
};

TEST_F(RavelEndToEnd, RavelStartsOrlinOrHandsItTheFolderAndTheFilesReachTheNas) {
  // No Orlin runs: ravel starts one with the path, which copies it once its
  // main view is up.
  const fs::path first = MakeSource("first source", "one");
  StartInNamespace(Quote((dir() / "ravel").string()) + " " + Quote(first.string()));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir() / "orlin-automation.sock"); }, "the started Orlin's automation"))
      << ReadFile(Scratch("ravel-first.out")) << ReadFile(Scratch("orlin.out"));
  ASSERT_EQ(Ctl("wait-window UIOrlinFrameWnd --timeout 120").exitCode, 0)
      << "the started Orlin's windows: " << Ctl("windows").out << "; its crash reports: " << CrashReports();
  EXPECT_EQ(ReadFile(Scratch("ravel-first.out")), "") << "ravel started Orlin and ended quietly";
  // Orlin's start-up put the file managers' entries for this ravel in place.
  if (!std::getenv("XDG_DATA_HOME")) {
    const fs::path data = install->home() / ".local" / "share";
    EXPECT_TRUE(fs::exists(data / "nautilus" / "scripts" / "Using Orlin to Synchronize"));
    EXPECT_NE(ReadFile(data / "kio" / "servicemenus" / "orlin-ravel-folder.desktop").find((dir() / "ravel").string()),
              std::string::npos);
  }
  ASSERT_TRUE(WaitUntil([&] { return Arrived(Folder(), "one"); }, "the first folder in the sync folder"));
  EXPECT_FALSE(fs::exists(Folder() / "first source")) << "the folder's content lands in the sync folder's root";
  ASSERT_TRUE(WaitUntil([&] { return Arrived(NasFolder(), "one"); }, "the first folder on the NAS"));

  // Orlin runs: ravel hands it the folder. A file that cannot be copied (a
  // folder of its name is in the way) keeps the copy window open, so it can
  // be seen; ravel waits until it is closed.
  const fs::path second = MakeSource("second source", "two");
  std::ofstream(second / "blocked.txt") << "cannot land";
  fs::create_directories(Folder() / "blocked.txt" / "kept");
  pid_t ravel = StartRavel(second, "ravel-second.out");
  ASSERT_EQ(Ctl("wait-window UICPWnd --timeout 120").exitCode, 0) << CrashReports();
  ASSERT_EQ(Ctl("wait UICPWnd ALLSIZELABEL '3 / 4' --timeout 120").exitCode, 0)
      << Ctl("get UICPWnd ALLSIZELABEL").out;
  Shoot("UICPWnd", "ravel-copy-window.png");
  EXPECT_TRUE(Arrived(Folder(), "two"));
  EXPECT_TRUE(RavelStillWaits(ravel)) << "ravel returned while the copy window was open";
  ASSERT_EQ(Ctl("click UICPWnd OKBTN").exitCode, 0);
  EXPECT_EQ(WaitForRavel(ravel), 0) << ReadFile(Scratch("ravel-second.out"));
  ASSERT_TRUE(WaitUntil([&] { return Arrived(NasFolder(), "two"); }, "the second folder on the NAS"));

  // A second start of Orlin with a path hands it to the running one, as
  // ravel would, and ends once that copy is done.
  const fs::path third = MakeSource("third source", "three");
  const std::string second_start = "timeout 300 env QT_QPA_PLATFORM=offscreen " + Quote((dir() / "orlin").string()) +
                                   " " + Quote(third.string()) + " >" + Quote(Scratch("second-start.out").string()) +
                                   " 2>&1";
  const int started = std::system(second_start.c_str());
  EXPECT_TRUE(WIFEXITED(started) && WEXITSTATUS(started) == 0) << ReadFile(Scratch("second-start.out"));
  EXPECT_TRUE(Arrived(Folder(), "three")) << "copied before the second start ended";
  ASSERT_TRUE(WaitUntil([&] { return Arrived(NasFolder(), "three"); }, "the third folder on the NAS"));

  // The sync folder itself: refused with a message, nothing copied; ravel
  // returns once the message is closed.
  ravel = StartRavel(Folder(), "ravel-refused.out");
  ASSERT_EQ(Ctl("wait-window MsgWnd --timeout 120").exitCode, 0);
  EXPECT_EQ(Ctl("get MsgWnd MessageText").out, "The contents of the synchronization folder cannot be copied");
  EXPECT_TRUE(RavelStillWaits(ravel));
  ASSERT_EQ(Ctl("click MsgWnd OKBTN").exitCode, 0);
  EXPECT_EQ(WaitForRavel(ravel), 0);
  EXPECT_EQ(Ctl("windows").out.find("UICPWnd"), std::string::npos) << "no copy window for the sync folder";
}

}  // namespace
}  // namespace orlin
