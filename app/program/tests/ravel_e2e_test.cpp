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
#include <thread>

#include "tests/support/program_session.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class RavelEndToEnd : public testsupport::ProgramSession {
 protected:
  void SetUp() override {
    SetUpProgram({.programDir = ORLIN_PROGRAM_DIR,
                  .ctl = ORLIN_CTL_PATH,
                  .beside = {ORLIN_RAVEL_PATH},
                  .english = true,
                  .account = "ann:ann-password",
                  .signInWith = ORLIN_CLI_PATH});
  }

  // `command` as the first words of the program's process namespace, whose
  // shell then stays, so an Orlin that `command` started is not ended when
  // `command` ends.
  bool StartInNamespaceThatStays(const std::string& command) {
    return StartInNamespace("sh -c " + Quote(command + " >>" + Quote(Scratch("ravel-first.out").string()) +
                                             " 2>&1; exec sleep 100000"));
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
};

TEST_F(RavelEndToEnd, RavelStartsOrlinOrHandsItTheFolderAndTheFilesReachTheNas) {
  // No Orlin runs: ravel starts one with the path, which copies it once its
  // main view is up.
  const fs::path first = MakeSource("first source", "one");
  ASSERT_TRUE(StartInNamespaceThatStays(Quote((dir() / "ravel").string()) + " " + Quote(first.string())))
      << "ravel said: " << ReadFile(Scratch("ravel-first.out"));
  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
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
  ASSERT_TRUE(WaitWindow("UICPWnd"));
  ASSERT_TRUE(WaitText("UICPWnd", "ALLSIZELABEL", "3 / 4"));
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
  ASSERT_TRUE(WaitWindow("MsgWnd"));
  EXPECT_EQ(Ctl("get MsgWnd MessageText").out, "The contents of the synchronization folder cannot be copied");
  EXPECT_TRUE(RavelStillWaits(ravel));
  ASSERT_EQ(Ctl("click MsgWnd OKBTN").exitCode, 0);
  EXPECT_EQ(WaitForRavel(ravel), 0);
  EXPECT_FALSE(WindowListed("UICPWnd")) << "no copy window for the sync folder";
}

}  // namespace
}  // namespace orlin
