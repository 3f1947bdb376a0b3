#include "platform/process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace orlin::platform {
namespace {

// Run as a child by the test below: it just waits to be terminated.
TEST(ProcessWin32Child, WaitsWhenStartedAsChild) {
  if (std::getenv("ORLIN_PROCESS_CHILD") == nullptr) GTEST_SKIP() << "runs only as a child";
  ::Sleep(60000);
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

TEST(ProcessWin32Test, StartedChildIsScannedAndTerminatedWithItsExitCode) {
  _putenv_s("ORLIN_PROCESS_CHILD", "1");
  SystemProcessTable table;
  const std::wstring self = OwnPath();
  const auto pid =
      table.StartHidden(L"\"" + self + L"\" --gtest_filter=ProcessWin32Child.WaitsWhenStartedAsChild");
  _putenv_s("ORLIN_PROCESS_CHILD", "");
  ASSERT_TRUE(pid.has_value());
  HANDLE child = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, *pid);
  ASSERT_NE(child, nullptr);

  const auto scan = table.Scan();
  ASSERT_TRUE(scan.has_value());
  const std::wstring image = self.substr(self.find_last_of(L"\\/") + 1);
  const auto it = std::find_if(scan->begin(), scan->end(), [&](const ProcessEntry& e) { return e.pid == *pid; });
  ASSERT_NE(it, scan->end());
  EXPECT_EQ(_wcsicmp(it->imageName.c_str(), image.c_str()), 0);

  EXPECT_TRUE(table.Terminate(*pid, 9));
  ASSERT_EQ(::WaitForSingleObject(child, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  ASSERT_TRUE(::GetExitCodeProcess(child, &code));
  EXPECT_EQ(code, 9u);
  ::CloseHandle(child);
}

TEST(ProcessWin32Test, StartingAMissingProgramFails) {
  SystemProcessTable table;
  EXPECT_FALSE(table.StartHidden(L"\"C:\\no such dir\\Sync.exe\" -no-browser").has_value());
  EXPECT_FALSE(table.Terminate(0xFFFFFFF0u, 9));
}

}  // namespace
}  // namespace orlin::platform
