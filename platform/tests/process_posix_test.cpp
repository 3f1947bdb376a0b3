// The system process table's one-process look, which the engine check uses
// ten times a second instead of a walk over the whole table.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "common/text.h"
#include "platform/process.h"
#include "platform/process_watch.h"

namespace orlin::platform {
namespace {

using namespace std::chrono_literals;

TEST(ProcessTablePosix, StillRunningTellsARunningProcessByNameAndAnEndedOneApart) {
  SystemProcessTable table;
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  const auto self = static_cast<ProcessId>(::getpid());
  ASSERT_FALSE(comm.empty());

  EXPECT_EQ(table.StillRunning(self, Utf8ToWide(comm)), std::optional<bool>(true));
  EXPECT_EQ(table.StillRunning(self, L"Sync.exe"), std::optional<bool>(false)) << "another name is another process";
  // The scan agrees with the look.
  const auto scanned = table.ScanFor(Utf8ToWide(comm));
  ASSERT_TRUE(scanned);
  EXPECT_TRUE(std::any_of(scanned->begin(), scanned->end(), [&](const ProcessEntry& e) { return e.pid == self; }));

  // A process that ended is no longer running, reaped or not.
  auto child = table.StartHidden(L"/bin/true");
  ASSERT_TRUE(child);
  ASSERT_EQ(WaitForProcessEnd(*child, 120s), ProcessWait::kEnded) << "the child did not end within 120 s";
  EXPECT_EQ(table.StillRunning(*child, L"true"), std::optional<bool>(false));
}

// The engine check asks about the same process over and over: after the
// first look it is watched without reading /proc, and still seen to end.
TEST(ProcessTablePosix, AProcessAskedAboutOftenIsStillSeenToEnd) {
  SystemProcessTable table;
  auto child = table.StartHidden(L"/bin/sleep 60");
  ASSERT_TRUE(child);
  for (int i = 0; i < 250; ++i) {
    ASSERT_EQ(table.StillRunning(*child, L"sleep"), std::optional<bool>(true)) << "look " << i;
  }
  EXPECT_EQ(table.StillRunning(*child, L"Sync.exe"), std::optional<bool>(false)) << "another name is another process";
  ASSERT_TRUE(table.Terminate(*child, 1));
  ASSERT_EQ(WaitForProcessEnd(*child, 120s), ProcessWait::kEnded) << "the child did not end within 120 s";
  EXPECT_EQ(table.StillRunning(*child, L"sleep"), std::optional<bool>(false));
  EXPECT_EQ(table.StillRunning(*child, L"sleep"), std::optional<bool>(false)) << "and stays ended";
}

}  // namespace
}  // namespace orlin::platform
