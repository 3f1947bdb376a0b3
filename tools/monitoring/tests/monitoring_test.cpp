// The built watchdog in an install directory with a stand-in for Orlin
// (tests/stand_in_orlin.cpp): a crash is restarted, a clean end is not, and
// a crash loop ends in giving up. Every wait is on a condition, with a
// deadline generous enough for a loaded machine.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "platform/process_watch.h"
#include "tests/support/temp_dir.h"
#include "tools/monitoring/watchdog.h"

namespace orlin::watchdog {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class MonitoringTest : public ::testing::Test {
 protected:
  void Install(const std::string& mode) {
    fs::copy_file(STAND_IN_PATH, dir.path() / "orlin");
    fs::copy_file(MONITORING_PATH, dir.path() / "Monitoring");
    std::ofstream(dir.path() / "mode") << mode << "\n";
    ASSERT_TRUE(table.StartHidden(L"\"" + (dir.path() / "orlin").wstring() + L"\""));
  }
  void TearDown() override {
    // Nothing of this directory outlives the test.
    for (int round = 0; round < 50; ++round) {
      auto left = Running("Monitoring");
      auto orlins = Running("orlin");
      left.insert(left.end(), orlins.begin(), orlins.end());
      if (left.empty()) break;
      for (auto pid : left) table.Terminate(pid, 9);
      std::this_thread::sleep_for(100ms);
    }
  }

  // The processes running this directory's copy of `name`.
  std::vector<platform::ProcessId> Running(const std::string& name) {
    std::vector<platform::ProcessId> out;
    auto entries = table.Scan();
    if (!entries) return out;
    for (const auto& e : *entries) {
      if (e.imageName != std::wstring(name.begin(), name.end())) continue;
      auto image = platform::ProcessImagePath(e.pid);
      std::error_code ec;
      if (image && fs::equivalent(*image, dir.path() / name, ec)) out.push_back(e.pid);
    }
    return out;
  }
  std::vector<std::string> Starts() {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(dir.path() / "starts.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Log() { return ReadAll(WatchdogLogPath(dir.path())); }

  void WaitUntil(const std::function<bool()>& condition, const std::string& what) {
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!condition()) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline)
          << "gave up after 120 s waiting until " << what << "; the watchdog's log:\n" << Log();
      std::this_thread::sleep_for(50ms);
    }
  }

  testsupport::TempDir dir;
  platform::SystemProcessTable table;
};

TEST_F(MonitoringTest, ACrashedOrlinIsStartedAgainByTheOneWatchdog) {
  Install("crash-on-request");
  WaitUntil([&] { return Log().find("Monitoring watches Orlin") != std::string::npos; }, "the watchdog watches");
  ASSERT_EQ(Starts().size(), 1u);

  std::ofstream(dir.path() / "crash") << "now";
  WaitUntil([&] { return Starts().size() == 2; }, "Orlin was started again");
  const std::string second = Starts()[1];
  WaitUntil([&] { return Log().find("Orlin started again (process " + second + ")") != std::string::npos; },
            "the watchdog names the new Orlin");
  EXPECT_THAT(Log(), HasSubstr("(process " + Starts()[0] + ") ended unexpectedly; starting it again in 1 s"));
  // The new Orlin started a watchdog of its own, which left the watch to the
  // one that counts the crashes.
  WaitUntil([&] { return Running("Monitoring").size() == 1 && Running("orlin").size() == 1; },
            "one Orlin and one watchdog run");

  // And it watches the new one too.
  std::ofstream(dir.path() / "crash") << "again";
  WaitUntil([&] { return Starts().size() == 3; }, "Orlin was started a second time");
}

TEST_F(MonitoringTest, AnOrlinThatEndsOnPurposeIsNotStartedAgain) {
  Install("exit-on-request");
  WaitUntil([&] { return Log().find("Monitoring watches Orlin") != std::string::npos; }, "the watchdog watches");
  std::ofstream(dir.path() / "exit") << "now";
  WaitUntil([&] { return Running("orlin").empty() && Running("Monitoring").empty(); },
            "Orlin and its watchdog have ended");
  EXPECT_EQ(Starts().size(), 1u);
  EXPECT_FALSE(fs::exists(CleanExitNotePath(dir.path())));
  EXPECT_THAT(Log(), ::testing::Not(HasSubstr("unexpectedly")));
}

TEST_F(MonitoringTest, ACrashLoopEndsWithTheWatchdogGivingUp) {
  Install("crash-at-once");
  WaitUntil([&] { return Log().find("gives up") != std::string::npos; }, "the watchdog gives up");
  WaitUntil([&] { return Running("Monitoring").empty(); }, "the watchdog has ended");
  EXPECT_EQ(Starts().size(), 3u);
  EXPECT_THAT(Log(), HasSubstr("starting it again in 2 s"));
}

}  // namespace
}  // namespace orlin::watchdog
