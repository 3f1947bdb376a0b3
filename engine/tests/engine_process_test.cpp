#include "engine/engine_process.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "common/message_presenter.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;

// A process table held in memory: started programs appear under the image
// name of their first word, terminated ones vanish.
class FakeProcessTable : public platform::ProcessTable {
 public:
  std::optional<std::vector<platform::ProcessEntry>> Scan() override {
    ++scans;
    if (unreadable) return std::nullopt;
    std::vector<platform::ProcessEntry> out;
    for (const auto& [pid, name] : processes) out.push_back({pid, name});
    return out;
  }
  std::optional<platform::ProcessId> StartHidden(const std::wstring& commandLine) override {
    started.push_back(commandLine);
    if (failStarts > 0) {
      --failStarts;
      return std::nullopt;
    }
    const auto pid = nextPid++;
    processes[pid] = L"Sync.exe";
    return pid;
  }
  bool Terminate(platform::ProcessId pid, std::uint32_t exitCode) override {
    terminated.emplace_back(pid, exitCode);
    // A stubborn process survives the first attempt.
    if (stubborn.count(pid) && stubborn[pid]-- > 0) return false;
    return processes.erase(pid) > 0;
  }

  std::map<platform::ProcessId, std::wstring> processes;
  std::map<platform::ProcessId, int> stubborn;
  std::vector<std::wstring> started;
  std::vector<std::pair<platform::ProcessId, std::uint32_t>> terminated;
  platform::ProcessId nextPid = 1000;
  int failStarts = 0;
  int scans = 0;
  bool unreadable = false;
};

// Time moves only when the supervisor sleeps.
class FakeClock : public EngineClock {
 public:
  std::chrono::steady_clock::time_point Now() override { return now; }
  void SleepFor(std::chrono::steady_clock::duration d, std::stop_token) override { now += d; }
  std::chrono::steady_clock::time_point now{};
};

class CountingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    shown.push_back({title, key, showCancel});
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override {}
  struct Shown {
    std::wstring title, key;
    bool cancel;
  };
  std::vector<Shown> shown;
};

TEST(EngineProcessTest, CommandLineQuotesOnlyPathsWithBlanks) {
  EXPECT_EQ(EngineProcess::BuildCommandLine("/opt/orlin"),
            L"/opt/orlin/Sync.exe -no-browser -no-console -home=/opt/orlin/syncconfig");
  EXPECT_EQ(EngineProcess::BuildCommandLine("/opt/my app"),
            L"\"/opt/my app/Sync.exe\" -no-browser -no-console -home=\"/opt/my app/syncconfig\"");
  // The process table splits it back into the words the engine receives.
  const auto words = platform::SplitCommandLine(EngineProcess::BuildCommandLine("/opt/my app"));
  ASSERT_EQ(words.size(), 4u);
  EXPECT_EQ(words[0], L"/opt/my app/Sync.exe");
  EXPECT_EQ(words[3], L"-home=/opt/my app/syncconfig");
}

TEST(EngineProcessTest, ScanCountsEveryCaseOfTheImageNameAndNothingElse) {
  FakeProcessTable table;
  FakeClock clock;
  CountingPresenter presenter;
  EngineProcess engine("/opt/orlin", table, presenter, clock);
  EXPECT_EQ(engine.ProcessCount(), -1);
  EXPECT_FALSE(engine.IsRunning());
  EXPECT_EQ(engine.ProcessCount(), 0);

  table.processes = {{1, L"SYNC.EXE"}, {2, L"sync.exe"}, {3, L"syncthing"}, {4, L"Sync.exe.bak"}};
  EXPECT_TRUE(engine.IsRunning());
  EXPECT_EQ(engine.ProcessCount(), 2);

  // An unreadable table says "not running" and keeps the last count.
  table.unreadable = true;
  EXPECT_FALSE(engine.IsRunning());
  EXPECT_EQ(engine.ProcessCount(), 2);
}

TEST(EngineProcessTest, EnsureRunningStartsOnlyWhenNoEngineExists) {
  FakeProcessTable table;
  FakeClock clock;
  CountingPresenter presenter;
  EngineProcess engine("/opt/orlin", table, presenter, clock);
  table.processes = {{7, L"Sync.exe"}};
  EXPECT_TRUE(engine.EnsureRunning());
  EXPECT_TRUE(table.started.empty());

  table.processes.clear();
  EXPECT_TRUE(engine.EnsureRunning());
  ASSERT_EQ(table.started.size(), 1u);
  EXPECT_EQ(table.started[0], engine.CommandLine());
  EXPECT_TRUE(presenter.shown.empty());
}

TEST(EngineProcessTest, FailedStartsAreReportedButPacedAndRetriedUntilOneSucceeds) {
  FakeProcessTable table;
  FakeClock clock;
  CountingPresenter presenter;
  EngineProcess engine("/opt/orlin", table, presenter, clock);
  table.failStarts = 200;  // far more failures than messages allowed
  const auto begin = clock.now;
  EXPECT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.started.size(), 201u);
  ASSERT_FALSE(presenter.shown.empty());
  for (const auto& m : presenter.shown) {
    EXPECT_EQ(m.title, L"Orlin");
    EXPECT_EQ(m.key, L"Sync_NoRunning_Msg");
    EXPECT_TRUE(m.cancel);
  }
  // At most one message per interval of (fake) time, plus the first one.
  const auto elapsed = clock.now - begin;
  EXPECT_LE(presenter.shown.size(), 1 + static_cast<std::size_t>(elapsed / std::chrono::seconds(5)));
  EXPECT_LT(presenter.shown.size(), table.started.size());
}

TEST(EngineProcessTest, EnsureRunningGivesUpOnlyWhenStopped) {
  FakeProcessTable table;
  FakeClock clock;
  CountingPresenter presenter;
  EngineProcess engine("/opt/orlin", table, presenter, clock);
  table.failStarts = 1 << 30;
  std::stop_source stop;
  stop.request_stop();
  EXPECT_FALSE(engine.EnsureRunning(stop.get_token()));
}

TEST(EngineProcessTest, StopAllTerminatesWithExitCodeNineUntilNoneIsLeft) {
  FakeProcessTable table;
  FakeClock clock;
  CountingPresenter presenter;
  EngineProcess engine("/opt/orlin", table, presenter, clock);
  table.processes = {{1, L"Sync.exe"}, {2, L"sync.exe"}, {3, L"bash"}};
  table.stubborn[2] = 3;
  EXPECT_TRUE(engine.StopAll());
  EXPECT_EQ(table.processes.size(), 1u);
  EXPECT_EQ(table.processes.count(3), 1u);  // other programs are left alone
  for (const auto& [pid, code] : table.terminated) {
    EXPECT_NE(pid, 3u);
    EXPECT_EQ(code, 9u);
  }
  EXPECT_GE(table.terminated.size(), 5u);  // the stubborn one was tried again
}

}  // namespace
}  // namespace orlin
