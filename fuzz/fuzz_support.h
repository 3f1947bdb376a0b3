#pragma once
// What the fuzz targets share: the check that stops a run with a message
// when an invariant does not hold, a scratch folder for the parsers that
// read files, and quiet stand-ins for the collaborators the parsers are
// given (message window, main window, clock).
//
// Every target runs in one thread; nothing here is thread-safe.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

#include "common/atomic_file.h"
#include "common/clock.h"
#include "common/message_presenter.h"
#include "common/owner_window.h"

// An invariant of the parser under test. A failure prints what was expected
// and aborts, which libFuzzer records as a crash with the input that caused it.
#define FUZZ_CHECK(condition, what)                                                                 \
  do {                                                                                              \
    if (!(condition)) {                                                                             \
      std::fprintf(stderr, "invariant failed at %s:%d: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
      std::abort();                                                                                 \
    }                                                                                               \
  } while (false)

namespace orlin::fuzz {

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// One folder per fuzzing process (the file-reading targets write every input
// to a file): below $ORLIN_FUZZ_SCRATCH when it is set (scripts/fuzz sets it
// and removes it afterwards), else on a memory file system where there is
// one. Removed when the process ends normally; a crashed run leaves it for
// inspection. Held on the heap so that it outlives the static destructors
// that run before the removal.
inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path* const dir = [] {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (const char* chosen = std::getenv("ORLIN_FUZZ_SCRATCH"); chosen != nullptr && *chosen != '\0') {
      base = chosen;
    } else if (!std::filesystem::is_directory(base, ec) || access(base.c_str(), W_OK) != 0) {
      base = std::filesystem::temp_directory_path(ec);
    }
    auto* made = new std::filesystem::path(base / ("orlin-fuzz-" + std::to_string(getpid())));
    std::filesystem::create_directories(*made, ec);
    FUZZ_CHECK(!ec, "the scratch folder could be made");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return made;
  }();
  return *dir;
}

inline void WriteInput(const std::filesystem::path& file, std::string_view bytes) {
  const std::error_code ec = WriteFileAtomically(file, bytes);
  FUZZ_CHECK(!ec, "the scratch file could be written");
}

// Counts messages instead of showing them; OK is the answer.
class QuietPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring&, bool) override {
    ++shown;
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override { ++shown; }
  int shown = 0;
};

// A main window that takes every message and answers 0.
class QuietWindow final : public OwnerWindow {
 public:
  void Post(unsigned, std::uintptr_t, std::intptr_t) override { ++posted; }
  std::intptr_t Send(unsigned, std::uintptr_t, std::intptr_t) override {
    ++sent;
    return 0;
  }
  int posted = 0;
  int sent = 0;
};

// A clock at a fixed date whose steady time moves a second per reading, so
// that every rate computation sees an interval.
class SteppingClock final : public Clock {
 public:
  std::time_t WallNow() override { return 1700000000; }  // 2023-11-14
  std::chrono::steady_clock::time_point SteadyNow() override {
    steady_ += std::chrono::seconds(1);
    return steady_;
  }
  void SleepFor(std::chrono::steady_clock::duration, std::stop_token) override {}

 private:
  std::chrono::steady_clock::time_point steady_{};
};

}  // namespace orlin::fuzz
