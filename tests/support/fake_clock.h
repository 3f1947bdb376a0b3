#pragma once
// Clocks for tests. FakeClock never moves on its own: sleeps advance its
// steady time at once, so backoffs and intervals run instantly. WallAt keeps
// real steady time and real sleeps but tells a fixed wall time, for file
// names and stamps.

#include <chrono>
#include <ctime>

#include "common/clock.h"

namespace orlin::testing {

class FakeClock final : public Clock {
 public:
  std::time_t WallNow() override { return wall; }
  std::chrono::steady_clock::time_point SteadyNow() override { return steady; }
  void SleepFor(std::chrono::steady_clock::duration duration, std::stop_token) override { steady += duration; }

  std::time_t wall = 1'800'000'000;
  std::chrono::steady_clock::time_point steady = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
};

class WallAt final : public Clock {
 public:
  explicit WallAt(std::time_t wall) : wall_(wall) {}
  std::time_t WallNow() override { return wall_; }
  std::chrono::steady_clock::time_point SteadyNow() override { return real_.SteadyNow(); }
  void SleepFor(std::chrono::steady_clock::duration duration, std::stop_token stop) override {
    real_.SleepFor(duration, stop);
  }

 private:
  std::time_t wall_;
  SystemClock real_;
};

}  // namespace orlin::testing
