// Following a process by id: its executable, and waiting for its end.

#include "platform/process_watch.h"

#include <gtest/gtest.h>

#include "platform/executable_path.h"
#include "platform/file_sync.h"

namespace orlin::platform {
namespace {

using namespace std::chrono_literals;

TEST(ProcessWatchTest, AProcessNamesItsExecutable) {
  auto image = ProcessImagePath(static_cast<ProcessId>(CurrentProcessId()));
  ASSERT_TRUE(image);
  EXPECT_TRUE(std::filesystem::equivalent(*image, ExecutablePath())) << image->string();
}

TEST(ProcessWatchTest, TheWaitEndsWithTheProcessOrWithItsTime) {
  EXPECT_EQ(WaitForProcessEnd(static_cast<ProcessId>(CurrentProcessId()), 50ms), ProcessWait::kStillRuns);

  // This test program once more, listing nothing: it ends at once.
  SystemProcessTable table;
  auto pid = table.StartHidden(L"\"" + ExecutablePath().wstring() + L"\" --gtest_filter=NoSuchTest");
  ASSERT_TRUE(pid);
  EXPECT_EQ(WaitForProcessEnd(*pid, 120s), ProcessWait::kEnded) << "the child did not end within 120 s";
  EXPECT_EQ(WaitForProcessEnd(*pid, 120s), ProcessWait::kEnded);
}

}  // namespace
}  // namespace orlin::platform
