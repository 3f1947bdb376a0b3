#pragma once
// Time as the core sees it: the wall clock (for texts and file names), the
// steady clock (for intervals and deadlines) and an interruptible sleep.
// Everything that waits or stamps takes a Clock, so tests run on a fake one.
//
// Threads: implementations may be called from any thread.

#include <chrono>
#include <ctime>
#include <stop_token>

namespace orlin {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the epoch; callers turn it into local time.
  virtual std::time_t WallNow() = 0;
  virtual std::chrono::steady_clock::time_point SteadyNow() = 0;
  // Sleeps for `duration` or until `stop` is requested, whichever is first.
  virtual void SleepFor(std::chrono::steady_clock::duration duration, std::stop_token stop) = 0;
};

// The real clocks and real sleeps.
class SystemClock final : public Clock {
 public:
  std::time_t WallNow() override;
  std::chrono::steady_clock::time_point SteadyNow() override;
  void SleepFor(std::chrono::steady_clock::duration duration, std::stop_token stop) override;
};

}  // namespace orlin
