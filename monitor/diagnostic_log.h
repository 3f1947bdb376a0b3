#pragma once
// The controller's diagnostic log: an in-memory ring of the last 1000 lines
// that the log page shows, and the run log file, which receives each line
// that pushes an old one out of the ring.
//
// Threads: Write() may be called from any thread (the poller's worker thread
// writes most lines); Entries() copies under the same lock.

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>

#include "common/clock.h"
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orlin {

// A line keeps its time in a field of 50 bytes and at most
// kMessageWidth - 1 bytes of its message. The message is held at its own
// length: most lines are a few dozen bytes, and a ring of full-width fields
// would hold more than half a megabyte of blanks.
struct LogEntry {
  static constexpr std::size_t kMessageWidth = 522;
  char time[50] = {};
  std::string message;
};

class DiagnosticLog {
 public:
  static constexpr std::size_t kCapacity = 1000;

  // `fileSink` receives whole lines ("<time>   <message>\n"); it may be empty
  // while no run log is open. `clock` stamps each line and must outlive the
  // log; without one the system clock does.
  DiagnosticLog(std::function<void(std::string_view)> fileSink, Clock* clock);
  DiagnosticLog();

  // One call is one line; an empty message is ignored.
  void Write(std::string_view message);

  std::vector<LogEntry> Entries() const;
  std::size_t Size() const;

 private:
  std::function<void(std::string_view)> fileSink_;
  Clock* clock_;
  mutable std::mutex mutex_;
  std::deque<LogEntry> ring_;
};

}  // namespace orlin
