#include "common/clock.h"

#include <algorithm>
#include <thread>

namespace orlin {

std::time_t SystemClock::WallNow() { return std::time(nullptr); }

std::chrono::steady_clock::time_point SystemClock::SteadyNow() { return std::chrono::steady_clock::now(); }

// Sleeps in slices and looks at the token between them. A wait on the token
// itself (condition_variable_any with a stop_token) registers a stop
// callback, and the MinGW standard library can lose the wake-up between that
// callback and its removal, leaving the sleeper blocked for good; the slices
// cost a wake-up every 50 ms only while a sleep is on.
void SystemClock::SleepFor(std::chrono::steady_clock::duration duration, std::stop_token stop) {
  constexpr std::chrono::steady_clock::duration kSlice = std::chrono::milliseconds(50);
  const auto until = std::chrono::steady_clock::now() + duration;
  while (!stop.stop_requested()) {
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    std::this_thread::sleep_for(std::min(left, kSlice));
  }
}

}  // namespace orlin
