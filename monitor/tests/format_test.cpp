#include "monitor/format.h"

#include <gtest/gtest.h>

#include <ctime>

namespace orlin {
namespace {

TEST(FormatTest, SizesStepUpOnlyAboveTheUnit) {
  EXPECT_EQ(FormatSize(0), L"0 B");
  EXPECT_EQ(FormatSize(1023), L"1023 B");
  EXPECT_EQ(FormatSize(1024), L"1.00 KiB");
  EXPECT_EQ(FormatSize(1536), L"1.50 KiB");
  EXPECT_EQ(FormatSize(1048576), L"1024.00 KiB");  // needs strictly more than 1024 KiB
  EXPECT_EQ(FormatSize(1048577), L"1.00 MiB");
  EXPECT_EQ(FormatSize(3ull << 30), L"3.00 GiB");
  EXPECT_EQ(FormatSize(5ull << 50), L"5120.00 TiB");  // larger values stay in TiB
}

TEST(FormatTest, RatesAboveOneGibibytePerSecondFallToZero) {
  EXPECT_EQ(FormatRate(0), L"0 B/s");
  EXPECT_EQ(FormatRate(512.9), L"512 B/s");  // truncated, not rounded
  EXPECT_EQ(FormatRate(12.25 * 1024 * 1024), L"12.25 MiB/s");
  EXPECT_EQ(FormatRate(2.0 * 1024 * 1024 * 1024), L"0.00  B/s");
  EXPECT_EQ(FormatRate(-5), L"0 B/s");
  EXPECT_EQ(FormatRateAndTotal(0, 0), L"0 B/s (0 B)");
}

TEST(FormatTest, EngineTimesBecomeListTimes) {
  EXPECT_EQ(EngineTimeToText("2020-03-01T10:11:12.123456789+08:00"), "2020-03-01  10:11:12");
  EXPECT_EQ(EngineTimeToText("0001-01-01T00:00:00Z"), kEngineZeroTimeText);
  std::tm t{};
  t.tm_year = 2019 - 1900, t.tm_mon = 4, t.tm_mday = 3, t.tm_hour = 14, t.tm_min = 7, t.tm_sec = 9;
  EXPECT_EQ(TimeText(t), "2019-05-03  14:07:09");
}

TEST(FormatTest, PercentsFloorAndGuardEmptyWholes) {
  EXPECT_EQ(PercentOf(1, 3), 33);
  EXPECT_EQ(PercentOf(2, 3), 66);
  EXPECT_EQ(PercentOf(5, 0), 0);
  EXPECT_EQ(FilePercent(999, 1000), 99);
  EXPECT_EQ(FilePercent(10, 0), 0);
  EXPECT_EQ(RemoteCompletion(0, 0), 100);
  EXPECT_EQ(RemoteCompletion(1, 3), 66);
}

TEST(FormatTest, UptimeShowsOnlyTheUnitsThatAreThere) {
  EXPECT_EQ(FormatUptime(BreakDownDuration(0), true), L"0m ");
  EXPECT_EQ(FormatUptime(BreakDownDuration(((1 * 24 + 2) * 60 + 3) * 60), true), L"1d 2h 3m ");
  EXPECT_EQ(FormatUptime(BreakDownDuration(59), false), L"0分 ");
}

// Log lines are stamped many times a second: the text of the last second is
// reused, which must never hand one second's text to another second.
TEST(FormatTest, LocalTimeTextsFollowTheirSecondsWhenRepeated) {
  const std::time_t base = 1700000000;
  auto expected = [](std::time_t when) {
    return TimeText(*std::localtime(&when));
  };
  for (std::time_t when : {base, base, base + 1, base, base + 86400, base + 86400, base - 1}) {
    EXPECT_EQ(LocalTimeText(when), expected(when)) << "at " << when;
  }
}

}  // namespace
}  // namespace orlin
