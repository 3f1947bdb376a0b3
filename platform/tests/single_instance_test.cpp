#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

// A name of its own per run, so parallel runs of the suite do not meet.
std::wstring UniqueName() {
  std::random_device rd;
  return L"EVENT_ORLIN_TEST_" + std::to_wstring(rd());
}

TEST(SingleInstanceTest, SecondClaimSeesTheFirstUntilItIsReleased) {
  testsupport::TempDir scope;
  const std::wstring name = UniqueName();
  auto first = std::make_unique<SingleInstanceGuard>(name, scope.path());
  EXPECT_FALSE(first->AnotherInstanceRuns());
  {
    SingleInstanceGuard second(name, scope.path());
    EXPECT_TRUE(second.AnotherInstanceRuns());
  }
  // The refused claim must not have released the holder's.
  SingleInstanceGuard third(name, scope.path());
  EXPECT_TRUE(third.AnotherInstanceRuns());

  first.reset();
  SingleInstanceGuard afterExit(name, scope.path());
  EXPECT_FALSE(afterExit.AnotherInstanceRuns());
}

TEST(SingleInstanceTest, DifferentNamesDoNotBlockEachOther) {
  testsupport::TempDir scope;
  SingleInstanceGuard a(UniqueName(), scope.path());
  SingleInstanceGuard b(UniqueName(), scope.path());
  EXPECT_FALSE(a.AnotherInstanceRuns());
  EXPECT_FALSE(b.AnotherInstanceRuns());
}

}  // namespace
}  // namespace orlin::platform
