// The built program as a user starts it, offscreen, from an install
// directory of its own: one instance per user, the watchdog started once.
// Each run is wrapped in a network and process namespace of its own, so the
// program sees no engine but its own and no network but loopback.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/temp_dir.h"

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

class OrlinProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("unshare -n -p -f --mount-proc true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs network and process namespaces (root)";
    }
    install_ = dir_.path() / "install dir";
    fs::create_directories(install_);
    // The program, its skins and images, the state files of a new install.
    const fs::path built(ORLIN_PROGRAM_DIR);
    fs::copy_file(built / "orlin", install_ / "orlin");
    fs::permissions(install_ / "orlin", fs::perms::owner_all, fs::perm_options::add);
    for (const auto& entry : fs::directory_iterator(built)) {
      if (entry.path().extension() == ".xml") fs::copy_file(entry.path(), install_ / entry.path().filename());
    }
    fs::copy(built / "res", install_ / "res", fs::copy_options::recursive);
    for (const char* name : {"lang.xml", "setting.xml", "userconfig.xml", "Orlin.ini"}) {
      fs::copy_file(fs::path(ORLIN_DIST_DIR) / name, install_ / name, fs::copy_options::overwrite_existing);
    }
    // A watchdog that notes each start and then waits.
    const fs::path watchdog = install_ / "Monitoring";
    std::ofstream(watchdog) << "#!/bin/sh\necho started >> \"$(dirname \"$0\")/watchdog.log\"\nexec sleep 600\n";
    fs::permissions(watchdog, fs::perms::owner_all, fs::perm_options::add);
  }

  void TearDown() override {
    if (first_ > 0) {
      // unshare passes SIGTERM by; killed, it takes the namespace's
      // processes with it (--kill-child).
      ::kill(first_, SIGKILL);
      int status = 0;
      ::waitpid(first_, &status, 0);
    }
  }

  std::string Command() const {
    return "unshare -n -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=offscreen '" + (install_ / "orlin").string() +
           "'";
  }

  // The first instance runs in the background until the test ends.
  void StartFirst() {
    const std::string command = Command() + " >'" + (dir_.path() / "first.out").string() + "' 2>&1";
    first_ = ::fork();
    ASSERT_GE(first_, 0);
    if (first_ == 0) {
      ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  bool WaitFor(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what << "; the first instance said: "
                      << ReadFile(dir_.path() / "first.out");
        return false;
      }
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  testsupport::TempDir dir_;
  fs::path install_;
  pid_t first_ = -1;
};

TEST_F(OrlinProgram, ASecondStartEndsAtOnceShowingNothingAndStartingNoSecondWatchdog) {
  StartFirst();
  ASSERT_TRUE(WaitFor([&] { return ReadFile(install_ / "watchdog.log") == "started\n"; },
                      "the first instance to start its watchdog"));

  const fs::path out = dir_.path() / "second.out";
  const fs::path err = dir_.path() / "second.err";
  const auto began = std::chrono::steady_clock::now();
  const int status =
      std::system(("timeout 60 " + Command() + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
  const auto took = std::chrono::steady_clock::now() - began;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "124 means it did not end by itself";
  EXPECT_EQ(ReadFile(out), "");
  EXPECT_EQ(ReadFile(err), "");
  std::printf("second start ended after %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

  // The first instance still runs, with one watchdog.
  int firstStatus = 0;
  EXPECT_EQ(::waitpid(first_, &firstStatus, WNOHANG), 0) << "the first instance ended";
  EXPECT_EQ(ReadFile(install_ / "watchdog.log"), "started\n");
}

}  // namespace
}  // namespace orlin
