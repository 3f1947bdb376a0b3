#pragma once
// Display formatting shared by the status texts: sizes and rates in binary
// units, the time text of list rows and log lines, and integer percents.
// Pure functions; safe from any thread.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace orlin {

// "512 B", "1.50 KiB", "12.25 MiB/s". Sizes go up to TiB; a rate above
// 1024 MiB/s is shown as "0.00  B/s" (the status area has room for MiB/s only).
std::wstring FormatSizeOrRate(std::uint64_t value, bool isRate);
inline std::wstring FormatSize(std::uint64_t bytes) { return FormatSizeOrRate(bytes, false); }
// Bytes per second; truncated toward zero. Negative, NaN or out-of-range rates
// (totals that went backwards after an engine restart) show as 0 B/s.
std::wstring FormatRate(double bytesPerSecond);

// "<rate> (<total>)", for example "0 B/s (0 B)".
std::wstring FormatRateAndTotal(double bytesPerSecond, std::uint64_t totalBytes);

// Engine time (2020-03-01T10:11:12.123456+08:00) to "2020-03-01  10:11:12":
// the first 19 characters with the first 'T' replaced by two blanks.
std::string EngineTimeToText(std::string_view engineTime);
// The engine's "never" after conversion.
inline constexpr std::string_view kEngineZeroTimeText = "0001-01-01  00:00:00";

// "%d-%02d-%02d  %02d:%02d:%02d" of a broken-down time.
std::string TimeText(const std::tm& local);
// The same for a wall-clock instant in local time.
std::string LocalTimeText(std::time_t when);

// floor(part * 100 / whole) in double precision; 0 when whole is 0.
std::int32_t PercentOf(std::uint64_t part, std::uint64_t whole);
// Download progress of one file: integer arithmetic, 0 when total is 0.
std::int32_t FilePercent(std::uint64_t done, std::uint64_t total);
// Remote device completion: floor((1 - need / global) * 100), 100 when global
// is 0.
double RemoteCompletion(std::uint64_t needBytes, std::uint64_t globalBytes);

// Clamps a JSON real to the unsigned 64-bit range (truncation toward zero;
// NaN and negatives give 0).
std::uint64_t DoubleToU64(double value);

// A duration broken down as a UTC calendar time counted from 1 January 1970.
struct BrokenDownDuration {
  std::int64_t totalSeconds = 0;
  int years = 0;      // calendar year - 1970
  int months = 0;     // 0-based month index
  int days = 0;       // day of month - 1
  int dayOfYear = 0;  // 0-based
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
};
BrokenDownDuration BreakDownDuration(std::int64_t seconds);

// The uptime text of the this-device page: "1d 2h 3m " (English) or
// "1天 2时 3分 " (Chinese); years, months, days, hours and minutes each only
// when at least 1, otherwise "0m " / "0分 ".
std::wstring FormatUptime(const BrokenDownDuration& uptime, bool english);

}  // namespace orlin
