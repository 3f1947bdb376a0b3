#include "common/clock.h"

#include <condition_variable>
#include <mutex>

namespace orlin {

std::time_t SystemClock::WallNow() { return std::time(nullptr); }

std::chrono::steady_clock::time_point SystemClock::SteadyNow() { return std::chrono::steady_clock::now(); }

void SystemClock::SleepFor(std::chrono::steady_clock::duration duration, std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  wake.wait_for(lock, stop, duration, [] { return false; });
}

}  // namespace orlin
