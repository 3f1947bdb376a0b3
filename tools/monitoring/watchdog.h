#pragma once
// Monitoring, the watchdog of Orlin. Orlin starts it (without arguments) from
// its install directory; it follows that directory's Orlin and starts Orlin
// again when it ended by a crash. An Orlin that ends on purpose either ends
// every watchdog first (its Exit does) or leaves a clean-exit note (its other
// ways out, such as a cancelled sign-in); "Orlin gone while I live, and no
// note" therefore means a crash. Crashes are restarted after a pause that
// grows; the third crash within a minute makes the watchdog give up, with a
// line in the install directory's log folder.
//
// Threads: everything runs on the calling thread.

#include <chrono>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/process.h"

namespace orlin::watchdog {

using Clock = std::chrono::steady_clock;

// What the watchdog asks of the system, so its decisions can be tested with
// a fake process table and clock.
class WatchdogSystem {
 public:
  virtual ~WatchdogSystem() = default;
  // The Orlin of the install directory, when one runs.
  virtual std::optional<platform::ProcessId> FindOrlin() = 0;
  // Blocks until `pid` has ended (true) or `timeout` passed (false).
  virtual bool WaitForEnd(platform::ProcessId pid, std::chrono::milliseconds timeout) = 0;
  // Starts Orlin; its id, or nullopt when it could not be started.
  virtual std::optional<platform::ProcessId> StartOrlin() = 0;
  // True when Orlin `pid` left a clean-exit note. Any note is used up.
  virtual bool TakeCleanExitNote(platform::ProcessId pid) = 0;
  virtual Clock::time_point Now() = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // One line for the log folder.
  virtual void Log(const std::string& line) = 0;
};

// When to start Orlin again after a crash: 1 s after the first of a minute,
// 2 s after the second; the third within a minute ends the restarts.
class RestartPolicy {
 public:
  static constexpr int kCrashLimit = 3;
  static constexpr std::chrono::seconds kWindow{60};
  static constexpr std::chrono::milliseconds kFirstPause{1000};

  // A crash at `now`: the pause before the next start, or nullopt to give up.
  std::optional<std::chrono::milliseconds> OnCrash(Clock::time_point now);

 private:
  std::deque<Clock::time_point> crashes_;
};

enum class WatchdogEnd {
  kNoOrlin,    // no Orlin of the install directory ran to be watched
  kCleanExit,  // Orlin ended on purpose
  kGaveUp,     // too many crashes in a minute
};

// How long the watchdog looks for the Orlin that started it. Orlin runs
// when it starts the watchdog, so the first look finds it; a watchdog that
// an Orlin started just before it crashed for good finds none and ends.
inline constexpr std::chrono::seconds kFindGrace{5};

// Watches until Orlin ends on purpose or the crashes are too many.
WatchdogEnd RunWatchdog(WatchdogSystem& system);

// Orlin's side, just before an orderly end that leaves the watchdog running
// (a cancelled sign-in, a failed start-up): a note that this process ends on
// purpose, so it is not started again.
void SayCleanExit(const std::filesystem::path& installDir);

// The install directory's real system.
class SystemWatchdog final : public WatchdogSystem {
 public:
  explicit SystemWatchdog(std::filesystem::path installDir);
  std::optional<platform::ProcessId> FindOrlin() override;
  bool WaitForEnd(platform::ProcessId pid, std::chrono::milliseconds timeout) override;
  std::optional<platform::ProcessId> StartOrlin() override;
  bool TakeCleanExitNote(platform::ProcessId pid) override;
  Clock::time_point Now() override { return Clock::now(); }
  void Sleep(std::chrono::milliseconds duration) override;
  void Log(const std::string& line) override;

  // "<install>/orlin" (".exe" on Windows, as this program's own name ends).
  std::filesystem::path OrlinPath() const;

 private:
  std::filesystem::path installDir_;
  platform::SystemProcessTable table_;
};

// The files of the watchdog in an install directory.
std::filesystem::path CleanExitNotePath(const std::filesystem::path& installDir);
std::filesystem::path WatchdogLogPath(const std::filesystem::path& installDir);
// The name a running watchdog of `installDir` claims, so a second one (the
// restarted Orlin starts one) ends at once.
std::wstring WatchdogClaimName(const std::filesystem::path& installDir);

}  // namespace orlin::watchdog
