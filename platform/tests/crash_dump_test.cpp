#include "platform/crash_dump.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

TEST(CrashDumpTest, FileNameCarriesPaddedLocalTimeProcessAndThread) {
  EXPECT_EQ(CrashDumpFileName({2020, 2, 1, 9, 5, 3}, 100, 7), "20200201-090503-100-7.dmp");
  EXPECT_EQ(CrashDumpFileName({2019, 5, 3, 14, 7, 9}, 4120, 3316), "20190503-140709-4120-3316.dmp");
  EXPECT_EQ(CrashDumpFileName({2026, 12, 31, 23, 59, 59}, 4294967295ul, 0), "20261231-235959-4294967295-0.dmp");
}

void CrashThroughNullFunction() {
  void (*volatile fn)() = nullptr;
  fn();
}

// The death test's child may be a fresh run of this program (always so on
// Windows), so the dump directory travels in the environment.
std::filesystem::path SharedDumpDir(testsupport::TempDir& own) {
  if (const char* dir = std::getenv("ORLIN_CRASH_TEST_DIR")) return dir;
  const auto dir = own.path() / "dmp";
#ifdef _WIN32
  _putenv_s("ORLIN_CRASH_TEST_DIR", dir.string().c_str());
#else
  setenv("ORLIN_CRASH_TEST_DIR", dir.string().c_str(), 1);
#endif
  return dir;
}

TEST(CrashDumpDeathTest, UnhandledFaultWritesOneNamedDumpAndEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testsupport::TempDir temp;
  const auto dumpDir = SharedDumpDir(temp);
  EXPECT_EXIT(
      {
        if (!InstallCrashHandler(dumpDir)) std::exit(42);
        CrashThroughNullFunction();
        std::exit(0);
      },
      [](int status) { return status != 0 && status != 42 * 256 && status != 42; }, "");

  ASSERT_TRUE(std::filesystem::is_directory(dumpDir));
  int dumps = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dumpDir)) {
    ++dumps;
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d{8}-\d{6}-\d+-\d+\.dmp)"))) << name;
    EXPECT_GT(std::filesystem::file_size(entry.path()), 0u) << name;
  }
  EXPECT_EQ(dumps, 1);
}

}  // namespace
}  // namespace orlin::platform
