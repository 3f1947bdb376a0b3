#include "engine/engine_process.h"
#include "tests/support/fake_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

#include "common/message_presenter.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;

class FakeTable : public platform::ProcessTable {
 public:
  std::optional<std::vector<platform::ProcessEntry>> Scan() override {
    ++scans;
    if (failScans > 0) {
      --failScans;
      return std::nullopt;
    }
    return processes;
  }
  std::optional<bool> StillRunning(platform::ProcessId pid, std::wstring_view imageName) override {
    if (!looksWork) return std::nullopt;
    ++looks;
    return std::any_of(processes.begin(), processes.end(), [&](const platform::ProcessEntry& p) {
      return p.pid == pid && platform::SameImageName(p.imageName, imageName) && p.ownedByCurrentUser;
    });
  }
  std::optional<platform::ProcessId> StartHidden(const std::wstring& commandLine) override {
    started.push_back(commandLine);
    if (!startWorks) return std::nullopt;
    processes.push_back({nextPid, L"Sync.exe"});
    return nextPid++;
  }
  bool Terminate(platform::ProcessId pid, std::uint32_t exitCode) override {
    terminated.emplace_back(pid, exitCode);
    // Each engine survives `survivals` terminate calls (a slow exit).
    if (survivals > 0) {
      --survivals;
      return true;
    }
    std::erase_if(processes, [pid](const auto& p) { return p.pid == pid; });
    return true;
  }

  std::vector<platform::ProcessEntry> processes;
  std::vector<std::wstring> started;
  std::vector<std::pair<platform::ProcessId, std::uint32_t>> terminated;
  bool startWorks = true;
  int failScans = 0;
  int survivals = 0;
  int scans = 0;
  bool looksWork = false;  // a table that can look at one process
  int looks = 0;
  platform::ProcessId nextPid = 100;
};

// Time moves only when the supervisor sleeps.
using testing::FakeClock;

class CountingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    EXPECT_EQ(title, L"Orlin");
    EXPECT_EQ(key, L"Sync_NoRunning_Msg");
    EXPECT_TRUE(showCancel);
    shownAt.push_back(clock->steady);
    if (onShow) onShow();
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override { ADD_FAILURE(); }
  FakeClock* clock = nullptr;
  std::vector<std::chrono::steady_clock::time_point> shownAt;
  std::function<void()> onShow;
};

struct Fixture : ::testing::Test {
  Fixture() { presenter.clock = &clock; }
  FakeTable table;
  FakeClock clock;
  CountingPresenter presenter;
  EngineProcess engine{"/opt/orlin", table, presenter, clock};
};

TEST(EngineCommandLine, QuotesOnlyPathsWithBlanks) {
  if (std::filesystem::path::preferred_separator == L'\\') GTEST_SKIP() << "written with POSIX separators; Windows joins the paths with backslashes";
  EXPECT_EQ(EngineProcess::BuildCommandLine("/opt/orlin"),
            L"/opt/orlin/Sync.exe -no-browser -no-console -home=/opt/orlin/syncconfig");
  EXPECT_EQ(EngineProcess::BuildCommandLine("/opt/Tarn App"),
            L"\"/opt/Tarn App/Sync.exe\" -no-browser -no-console -home=\"/opt/Tarn App/syncconfig\"");
  // The splitter used to start it gives back the same words.
  const auto words = platform::SplitCommandLine(EngineProcess::BuildCommandLine("/opt/Tarn App"));
  const std::vector<std::wstring> expected = {L"/opt/Tarn App/Sync.exe", L"-no-browser", L"-no-console",
                                              L"-home=/opt/Tarn App/syncconfig"};
  EXPECT_EQ(words, expected);
}

TEST_F(Fixture, CountsEngineImagesInAnyCase) {
  EXPECT_EQ(engine.ProcessCount(), -1);
  table.processes = {{1, L"init"}, {2, L"SYNC.EXE"}, {3, L"sync.exe"}, {4, L"Sync.exe.bak"}};
  EXPECT_TRUE(engine.IsRunning());
  EXPECT_EQ(engine.ProcessCount(), 2);
  table.processes = {{1, L"init"}};
  EXPECT_FALSE(engine.IsRunning());
  EXPECT_EQ(engine.ProcessCount(), 0);
  table.failScans = 1;
  table.processes = {{2, L"sync.exe"}};
  EXPECT_FALSE(engine.IsRunning());
  EXPECT_EQ(engine.ProcessCount(), 0);  // an unreadable table leaves the count
}

TEST_F(Fixture, EnsureRunningStartsOnlyWhenNoneRuns) {
  table.processes = {{7, L"Sync.exe"}};
  EXPECT_TRUE(engine.EnsureRunning());
  EXPECT_TRUE(table.started.empty());

  table.processes.clear();
  table.failScans = 2;  // unreadable passes start nothing
  EXPECT_TRUE(engine.EnsureRunning());
  ASSERT_EQ(table.started.size(), 1u);
  EXPECT_EQ(table.started[0], engine.CommandLine());
  EXPECT_EQ(engine.ProcessCount(), 1);
  EXPECT_TRUE(presenter.shownAt.empty());
}

TEST_F(Fixture, FailedStartsAreRetriedWithPacedMessages) {
  table.startWorks = false;
  std::stop_source stop;
  presenter.onShow = [&] {
    if (presenter.shownAt.size() == 4) stop.request_stop();
  };
  EXPECT_FALSE(engine.EnsureRunning(stop.get_token()));
  ASSERT_EQ(presenter.shownAt.size(), 4u);
  EXPECT_GT(table.started.size(), 4u);  // retried between messages
  for (std::size_t i = 1; i < presenter.shownAt.size(); ++i) {
    EXPECT_GE(presenter.shownAt[i] - presenter.shownAt[i - 1], 5s);
    EXPECT_LE(presenter.shownAt[i] - presenter.shownAt[i - 1], 7s);  // backoff capped at 1 s
  }

  // Once the engine can start again it does, and a later failure is told at once.
  table.startWorks = true;
  EXPECT_TRUE(engine.EnsureRunning());
  table.processes.clear();
  table.startWorks = false;
  const auto before = clock.steady;
  std::stop_source stopAgain;
  presenter.onShow = [&] { stopAgain.request_stop(); };
  EXPECT_FALSE(engine.EnsureRunning(stopAgain.get_token()));
  ASSERT_EQ(presenter.shownAt.size(), 5u);
  EXPECT_EQ(presenter.shownAt.back(), before);
}

TEST_F(Fixture, StopAllTerminatesUntilNoneIsLeft) {
  table.processes = {{1, L"bash"}, {2, L"sync.exe"}, {3, L"Sync.exe"}};
  table.survivals = 2;
  EXPECT_TRUE(engine.StopAll());
  EXPECT_FALSE(engine.IsRunning());
  ASSERT_EQ(table.processes.size(), 1u);
  EXPECT_EQ(table.processes[0].pid, 1u);
  EXPECT_GE(table.terminated.size(), 4u);
  for (const auto& [pid, code] : table.terminated) {
    EXPECT_NE(pid, 1u);
    EXPECT_EQ(code, 9u);
  }
}

// Another session's engine is not ours: not counted, never ended, and its
// presence does not stop this user's engine from being started.
TEST_F(Fixture, AnotherUsersEngineIsNeitherCountedNorEnded) {
  table.processes = {{5, L"sync.exe", /*ownedByCurrentUser=*/false}};
  EXPECT_FALSE(engine.IsRunning());
  EXPECT_EQ(engine.OtherUsersEngines(), 1);
  EXPECT_TRUE(engine.StopAll());
  EXPECT_TRUE(table.terminated.empty());

  EXPECT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.started.size(), 1u);
  EXPECT_EQ(engine.ProcessCount(), 1);
  table.survivals = 0;
  EXPECT_TRUE(engine.StopAll());
  ASSERT_EQ(table.processes.size(), 1u);
  EXPECT_EQ(table.processes[0].pid, 5u);
}

}  // namespace
}  // namespace orlin

namespace orlin {
namespace {

// The data thread's check, ten times a second: after one scan only the
// engine processes it found are looked at, until none of them runs.
TEST_F(Fixture, KnownEnginesAreLookedAtAloneUntilTheyEndThenTheTableIsScannedAgain) {
  table.looksWork = true;
  table.processes = {{7, L"Sync.exe"}, {8, L"Sync.exe"}, {9, L"Sync.exe", /*ownedByCurrentUser=*/false}};
  ASSERT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.scans, 1);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.scans, 1);
  EXPECT_EQ(table.looks, 5);

  // One of two gone: the other is enough.
  std::erase_if(table.processes, [](const auto& p) { return p.pid == 7; });
  ASSERT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.scans, 1);
  // Both gone (another user's engine does not count): scanned, and started.
  std::erase_if(table.processes, [](const auto& p) { return p.pid == 8; });
  ASSERT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.scans, 3) << "one scan finds none and starts one, the next finds it";
  EXPECT_EQ(table.started.size(), 1u);
  const int scans = table.scans;
  ASSERT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.scans, scans) << "the started engine is known after the scan that found it";
}

}  // namespace
}  // namespace orlin
