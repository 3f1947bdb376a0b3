// The watchdog's decisions on a fake process table and clock: crashes are
// restarted after growing pauses, a clean end ends the watch, three crashes
// in a minute end the restarts.

#include "tools/monitoring/watchdog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlin::watchdog {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// How one run of Orlin ends, after how long.
struct Life {
  std::chrono::milliseconds lasts;
  bool clean = false;
};

class FakeSystem : public WatchdogSystem {
 public:
  std::optional<platform::ProcessId> FindOrlin() override {
    ++finds;
    if (finds < foundOnFind) return std::nullopt;
    return running;
  }
  bool WaitForEnd(platform::ProcessId pid, std::chrono::milliseconds timeout) override {
    EXPECT_EQ(pid, running.value_or(0)) << "waits on a process that is not Orlin";
    if (lives.empty()) {
      ADD_FAILURE() << "Orlin was watched beyond the script";
      lives.push_back({0ms, true});
    }
    Life& life = lives.front();
    if (life.lasts > timeout) {
      life.lasts -= timeout;
      now += timeout;
      return false;
    }
    now += life.lasts;
    if (life.clean) note = pid;
    lives.erase(lives.begin());
    running.reset();
    return true;
  }
  std::optional<platform::ProcessId> StartOrlin() override {
    startedAt.push_back(now);
    if (failingStarts > 0) {
      --failingStarts;
      return std::nullopt;
    }
    running = nextPid++;
    return running;
  }
  bool TakeCleanExitNote(platform::ProcessId pid) override {
    auto said = note;
    note.reset();
    return said == pid;
  }
  Clock::time_point Now() override { return now; }
  void Sleep(std::chrono::milliseconds d) override {
    sleeps.push_back(d);
    now += d;
  }
  void Log(const std::string& line) override { log.push_back(line); }

  std::optional<platform::ProcessId> running = 100;
  int finds = 0, foundOnFind = 1, failingStarts = 0;
  platform::ProcessId nextPid = 200;
  std::optional<platform::ProcessId> note;
  std::vector<Life> lives;
  Clock::time_point now{};
  std::vector<Clock::time_point> startedAt;
  std::vector<std::chrono::milliseconds> sleeps;
  std::vector<std::string> log;
};

TEST(RestartPolicyTest, PausesGrowAndTheThirdCrashOfAMinuteEndsTheRestarts) {
  RestartPolicy policy;
  Clock::time_point t{};
  EXPECT_EQ(policy.OnCrash(t), 1000ms);
  EXPECT_EQ(policy.OnCrash(t + 20s), 2000ms);
  EXPECT_EQ(policy.OnCrash(t + 59s), std::nullopt);

  // A crash a minute after the others starts the count again.
  RestartPolicy later;
  EXPECT_EQ(later.OnCrash(t), 1000ms);
  EXPECT_EQ(later.OnCrash(t + 30s), 2000ms);
  EXPECT_EQ(later.OnCrash(t + 80s), 2000ms);  // the first is out of the minute
  EXPECT_EQ(later.OnCrash(t + 200s), 1000ms);
}

TEST(WatchdogTest, ACrashIsRestartedAfterAPauseAndACleanEndEndsTheWatch) {
  FakeSystem system;
  system.lives = {{10min, false}, {5min, true}};
  EXPECT_EQ(RunWatchdog(system), WatchdogEnd::kCleanExit);
  ASSERT_EQ(system.startedAt.size(), 1u);
  EXPECT_EQ(system.startedAt[0], Clock::time_point{} + 10min + 1s);
  EXPECT_THAT(system.log, ElementsAre("Monitoring watches Orlin (process 100)",
                                      "Orlin (process 100) ended unexpectedly; starting it again in 1 s",
                                      "Orlin started again (process 200)"));
}

TEST(WatchdogTest, ThreeCrashesWithinAMinuteEndTheRestartsWithALine) {
  FakeSystem system;
  system.lives = {{5s, false}, {5s, false}, {5s, false}};
  EXPECT_EQ(RunWatchdog(system), WatchdogEnd::kGaveUp);
  EXPECT_EQ(system.startedAt.size(), 2u);
  EXPECT_THAT(system.sleeps, ElementsAre(1000ms, 2000ms));
  EXPECT_THAT(system.log.back(), HasSubstr("3 times within a minute, so Monitoring gives up"));
  EXPECT_THAT(system.log.back(), HasSubstr("process 201"));
}

TEST(WatchdogTest, CrashesFartherApartThanAMinuteAreRestartedEveryTime) {
  FakeSystem system;
  for (int i = 0; i < 6; ++i) system.lives.push_back({40s, false});
  system.lives.push_back({1h, true});
  EXPECT_EQ(RunWatchdog(system), WatchdogEnd::kCleanExit);
  EXPECT_EQ(system.startedAt.size(), 6u);
}

TEST(WatchdogTest, AStartThatFailsCountsAsACrash) {
  FakeSystem system;
  system.lives = {{1h, false}};
  system.failingStarts = 5;
  EXPECT_EQ(RunWatchdog(system), WatchdogEnd::kGaveUp);
  EXPECT_EQ(system.startedAt.size(), 2u);
  EXPECT_THAT(system.log, ::testing::Contains("Orlin could not be started; starting it again in 2 s"));
}

TEST(WatchdogTest, AnOrlinFoundLateIsWatchedAndNoneAtAllEndsTheWatchdog) {
  FakeSystem late;
  late.foundOnFind = 4;
  late.lives = {{1min, true}};
  EXPECT_EQ(RunWatchdog(late), WatchdogEnd::kCleanExit);
  EXPECT_EQ(late.finds, 4);

  FakeSystem none;
  none.running.reset();
  EXPECT_EQ(RunWatchdog(none), WatchdogEnd::kNoOrlin);
  EXPECT_GE(none.now - Clock::time_point{}, kFindGrace);
  EXPECT_TRUE(none.startedAt.empty());
  EXPECT_THAT(none.log, ElementsAre("Monitoring found no Orlin of this folder to watch and ends"));
}

TEST(WatchdogTest, ANoteLeftBeforeTheWatchBeganDoesNotHideACrash) {
  FakeSystem system;
  system.note = 100;  // an earlier Orlin of the same id said it ends
  system.lives = {{1min, false}, {1min, true}};
  EXPECT_EQ(RunWatchdog(system), WatchdogEnd::kCleanExit);
  EXPECT_EQ(system.startedAt.size(), 1u);
}

TEST(WatchdogTest, TheClaimNameIsOneForAnInstallDirectoryHoweverItIsWritten) {
  EXPECT_EQ(WatchdogClaimName("/opt/Orlin"), WatchdogClaimName("/opt/Orlin/"));
  EXPECT_EQ(WatchdogClaimName("/opt/Orlin"), WatchdogClaimName("/opt/./Orlin"));
  EXPECT_NE(WatchdogClaimName("/opt/Orlin"), WatchdogClaimName("/opt/Orlin2"));
}

}  // namespace
}  // namespace orlin::watchdog
