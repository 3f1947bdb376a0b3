#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/crash_dump.h"
#include "platform/single_instance.h"
#include "platform/system_info.h"
#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

TEST(SystemInfoWin32Test, ComputerNameMatchesTheSystemsAndFitsItsBuffer) {
  wchar_t expected[64] = {};
  DWORD size = 64;
  ASSERT_TRUE(::GetComputerNameW(expected, &size));
  const std::wstring name = ComputerName();
  EXPECT_EQ(name, std::wstring(expected, size));
  EXPECT_LT(name.size(), kComputerNameBufferChars);
}

TEST(SystemInfoWin32Test, VersionIsReportedForAWindowsSystem) {
  const OsIdentity id = QueryOsIdentity();
  EXPECT_GE(id.major, 5u);
  EXPECT_GE(id.productType, 1u);
  EXPECT_TRUE(id.name.empty());
}

TEST(SingleInstanceWin32Test, TheClaimIsTheNamedEventOthersCanOpen) {
  testsupport::TempDir scope;
  const std::wstring name = L"EVENT_ORLIN_TEST_W32_" + std::to_wstring(::GetCurrentProcessId());
  {
    SingleInstanceGuard guard(name, scope.path());
    ASSERT_FALSE(guard.AnotherInstanceRuns());
    HANDLE seen = ::OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    ASSERT_NE(seen, nullptr);
    // Manual reset and not signalled: a wait returns at once without a signal.
    EXPECT_EQ(::WaitForSingleObject(seen, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ::CloseHandle(seen);
  }
  EXPECT_EQ(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
}

// Run as a child by the test below: claims the name it is given and tells
// through its exit code whether another process held it (3) or not (4).
TEST(SingleInstanceWin32Child, ClaimsTheNameAndReportsThroughItsExitCode) {
  const char* name = std::getenv("ORLIN_INSTANCE_CHILD_NAME");
  if (name == nullptr || *name == '\0') GTEST_SKIP() << "runs only as a child";
  SingleInstanceGuard guard(std::wstring(name, name + std::strlen(name)), std::filesystem::path());
  std::exit(guard.AnotherInstanceRuns() ? 3 : 4);
}

DWORD RunClaimingChild(const std::wstring& name) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine =
      L"\"" + std::wstring(self) + L"\" --gtest_filter=SingleInstanceWin32Child.ClaimsTheNameAndReportsThroughItsExitCode";
  commandLine.push_back(L'\0');
  ::SetEnvironmentVariableW(L"ORLIN_INSTANCE_CHILD_NAME", name.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const BOOL ok = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &info);
  ::SetEnvironmentVariableW(L"ORLIN_INSTANCE_CHILD_NAME", nullptr);
  if (!ok) return 0xFFFFFFFF;
  DWORD code = 0xFFFFFFFE;
  if (::WaitForSingleObject(info.hProcess, 30000) == WAIT_OBJECT_0) ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return code;
}

// The second start of the program: a separate process finds the name taken
// while the first holds it, and free again once the first has let it go.
TEST(SingleInstanceWin32Test, AnotherProcessSeesTheClaimOnlyWhileItIsHeld) {
  const std::wstring name = std::wstring(kInstanceEventName) + L"_TEST_" + std::to_wstring(::GetCurrentProcessId());
  {
    SingleInstanceGuard first(name, std::filesystem::path());
    ASSERT_FALSE(first.AnotherInstanceRuns());
    EXPECT_EQ(RunClaimingChild(name), 3u);
    // The refused second process must not have taken the claim away.
    EXPECT_EQ(RunClaimingChild(name), 3u);
  }
  EXPECT_EQ(RunClaimingChild(name), 4u);
}

TEST(CrashDumpWin32DeathTest, AccessViolationWritesAMinidump) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testsupport::TempDir own;
  std::filesystem::path dumpDir;
  if (const char* dir = std::getenv("ORLIN_W32_DUMP_DIR")) {
    dumpDir = dir;
  } else {
    dumpDir = own.path() / "dmp";
    _putenv_s("ORLIN_W32_DUMP_DIR", dumpDir.string().c_str());
  }
  EXPECT_EXIT(
      {
        InstallCrashHandler(dumpDir);
        ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
      },
      [](int code) { return static_cast<DWORD>(code) == EXCEPTION_ACCESS_VIOLATION; }, "");
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(dumpDir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    EXPECT_EQ(std::string(magic, 4), "MDMP") << entry.path();
    found = true;
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace orlin::platform
