// orlin-bench-copy SOURCE DESTINATION
//
// Copies the content of SOURCE into DESTINATION with the copy worker, as the
// copy window does it (a progress sink that takes the window's updates), and
// prints one line: seconds, files copied, files counted, bytes and MiB/s.
// Exit code 0 when every file arrived.

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/copy_worker.h"

namespace {

// Stands in for the window: formats what the window would show.
class WindowLikeSink : public orlin::CopyProgressSink {
 public:
  void OnCopyProgress(const orlin::CopyProgress& p) override {
    ++updates;
    shown = p.currentCopiedText + L" / " + p.currentTotalText + p.currentFileName;
    overall = orlin::OverallPercent(100, p);
  }
  long updates = 0;
  std::wstring shown;
  int overall = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: orlin-bench-copy SOURCE DESTINATION\n", stderr);
    return 2;
  }
  WindowLikeSink sink;
  orlin::CopyWorker worker(argv[1], argv[2], &sink);
  const auto start = std::chrono::steady_clock::now();
  const orlin::CopySummary summary = worker.Run();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double mib = static_cast<double>(summary.bytes) / (1024.0 * 1024.0);
  std::printf("seconds=%.3f files=%d/%d bytes=%llu mib_per_s=%.1f window_updates=%ld overall=%d%%\n", seconds,
              summary.copiedFiles, summary.totalFiles, static_cast<unsigned long long>(summary.bytes),
              seconds > 0 ? mib / seconds : 0.0, sink.updates, sink.overall);
  return summary.end == orlin::CopyEnd::kAllCopied ? 0 : 1;
}
