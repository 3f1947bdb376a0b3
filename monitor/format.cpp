#include "monitor/format.h"

#include <cmath>
#include <cstdio>
#include <mutex>

namespace orlin {
namespace {

std::wstring Widen(const char* ascii) {
  std::wstring out;
  for (const char* p = ascii; *p != '\0'; ++p) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
  return out;
}

// std::localtime shares one buffer between callers; copy it out under a lock.
std::mutex g_localTimeMutex;

// Days since 1970-01-01 of a proleptic Gregorian civil date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::wstring FormatSizeOrRate(std::uint64_t value, bool isRate) {
  char buffer[64];
  if (value < 1024) {
    std::snprintf(buffer, sizeof buffer, "%llu %s", static_cast<unsigned long long>(value), isRate ? "B/s" : "B");
    return Widen(buffer);
  }
  double v = static_cast<double>(value) / 1024.0;
  const char* unit = isRate ? "KiB/s" : "KiB";
  if (v > 1024.0) {
    v /= 1024.0;
    unit = isRate ? "MiB/s" : "MiB";
  }
  if (v > 1024.0) {
    if (isRate) {
      v = 0.0;
      unit = " B/s";
    } else {
      v /= 1024.0;
      unit = "GiB";
    }
  }
  if (v > 1024.0) {
    // Only sizes can still be above 1024 here.
    v /= 1024.0;
    unit = "TiB";
  }
  std::snprintf(buffer, sizeof buffer, "%.2f %s", v, unit);
  return Widen(buffer);
}

std::uint64_t DoubleToU64(double value) {
  if (!(value > 0.0)) return 0;  // negatives and NaN
  if (value >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(value);
}

std::wstring FormatRate(double bytesPerSecond) { return FormatSizeOrRate(DoubleToU64(bytesPerSecond), true); }

std::wstring FormatRateAndTotal(double bytesPerSecond, std::uint64_t totalBytes) {
  return FormatRate(bytesPerSecond) + L" (" + FormatSize(totalBytes) + L")";
}

std::string EngineTimeToText(std::string_view engineTime) {
  std::string text(engineTime.substr(0, 19));
  const auto t = text.find('T');
  if (t != std::string::npos) text.replace(t, 1, "  ");
  return text;
}

std::string TimeText(const std::tm& local) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%d-%02d-%02d  %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return buffer;
}

std::string LocalTimeText(std::time_t when) {
  // The poll stamps about ten log lines a second, and the C library looks at
  // the time zone file again for every conversion: the text of the last
  // second is kept.
  static std::time_t lastWhen = 0;
  static std::string lastText;
  std::tm copy{};
  {
    std::lock_guard<std::mutex> lock(g_localTimeMutex);
    if (!lastText.empty() && when == lastWhen) return lastText;
    const std::tm* local = std::localtime(&when);
    if (local == nullptr) return {};
    copy = *local;
  }
  std::string text = TimeText(copy);
  std::lock_guard<std::mutex> lock(g_localTimeMutex);
  lastWhen = when;
  lastText = text;
  return text;
}

std::int32_t PercentOf(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 0;
  const double p = std::floor(static_cast<double>(part) * 100.0 / static_cast<double>(whole));
  if (p > 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(p);
}

std::int32_t FilePercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  // done * 100 may overflow for absurd values; divide first in that case.
  std::uint64_t percent;
  if (done <= UINT64_MAX / 100) {
    percent = done * 100 / total;
  } else {
    percent = done / (total / 100 == 0 ? 1 : total / 100);
  }
  return percent > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(percent);
}

double RemoteCompletion(std::uint64_t needBytes, std::uint64_t globalBytes) {
  if (globalBytes == 0) return 100.0;
  return std::floor((1.0 - static_cast<double>(needBytes) / static_cast<double>(globalBytes)) * 100.0);
}

BrokenDownDuration BreakDownDuration(std::int64_t seconds) {
  BrokenDownDuration out;
  if (seconds < 0) seconds = 0;
  out.totalSeconds = seconds;
  const std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  out.hours = static_cast<int>(rest / 3600);
  out.minutes = static_cast<int>(rest % 3600 / 60);
  out.seconds = static_cast<int>(rest % 60);
  // Civil date of `days` after 1970-01-01.
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2 ? 1 : 0;
  out.years = static_cast<int>(y - 1970);
  out.months = static_cast<int>(m) - 1;
  out.days = static_cast<int>(d) - 1;
  out.dayOfYear = static_cast<int>(days - DaysFromCivil(y, 1, 1));
  return out;
}

std::wstring FormatUptime(const BrokenDownDuration& uptime, bool english) {
  std::wstring text;
  auto part = [&](int value, const wchar_t* en, const wchar_t* zh) {
    text += std::to_wstring(value);
    text += english ? en : zh;
  };
  if (uptime.years >= 1) part(uptime.years, L"y ", L"\u5e74 ");
  if (uptime.months >= 1) part(uptime.months, L"M ", L"\u6708 ");
  if (uptime.days >= 1) part(uptime.days, L"d ", L"\u5929 ");
  if (uptime.hours >= 1) part(uptime.hours, L"h ", L"\u65f6 ");
  part(uptime.minutes >= 1 ? uptime.minutes : 0, L"m ", L"\u5206 ");
  return text;
}

}  // namespace orlin
