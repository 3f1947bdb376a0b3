#include "monitor/diagnostic_log.h"

#include "monitor/format.h"
#include "monitor/status_model.h"

namespace orlin {

namespace {
SystemClock& RealClock() {
  static SystemClock clock;
  return clock;
}
}  // namespace

DiagnosticLog::DiagnosticLog(std::function<void(std::string_view)> fileSink, Clock* clock)
    : fileSink_(std::move(fileSink)), clock_(clock != nullptr ? clock : &RealClock()) {}

DiagnosticLog::DiagnosticLog() : DiagnosticLog(nullptr, nullptr) {}

void DiagnosticLog::Write(std::string_view message) {
  if (message.empty()) return;
  LogEntry entry;
  SetField(entry.time, LocalTimeText(clock_->WallNow()));
  char cut[LogEntry::kMessageWidth];
  CopyToField(cut, sizeof cut, message);
  entry.message.assign(cut);

  std::lock_guard<std::mutex> lock(mutex_);
  if (ring_.size() >= kCapacity) {
    // The ring is full: the new line also goes to the run log, so the file
    // holds everything that no longer fits in memory.
    if (fileSink_) {
      std::string line;
      line.reserve(80 + message.size());
      line.append(FieldText(entry.time));
      line.append("   ");
      line.append(entry.message);
      line.append("\n");
      fileSink_(line);
    }
    ring_.pop_front();
  }
  ring_.push_back(std::move(entry));
}

std::vector<LogEntry> DiagnosticLog::Entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<LogEntry>(ring_.begin(), ring_.end());
}

std::size_t DiagnosticLog::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ring_.size();
}

}  // namespace orlin
