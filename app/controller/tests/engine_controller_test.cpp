#include "app/controller/engine_controller.h"

#include <gtest/gtest.h>

namespace orlin {
namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(RunLogName, NumbersCarryNoLeadingZeros) {
  EXPECT_EQ(EngineController::LogFileName(At(2019, 5, 3, 14, 7, 9)), "2019-5-3-14-7-9.txt");
  EXPECT_EQ(EngineController::LogFileName(At(2026, 12, 31, 0, 0, 0)), "2026-12-31-0-0-0.txt");
  EXPECT_EQ(EngineController::LogFileName(At(2000, 1, 1, 23, 59, 59)), "2000-1-1-23-59-59.txt");
}

}  // namespace
}  // namespace orlin
