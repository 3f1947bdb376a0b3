#pragma once
// Copies a file or the content of a folder into another folder, reporting
// progress as it goes: used for the paths the file-manager extension hands
// over (into the sync folder) and for moving the sync folder (the old
// folder's content into the new one).
//
// A folder's content lands directly in the destination (the source folder's
// own name is not made again); a single file lands in the destination's
// root. Existing files are replaced. A file that cannot be copied is skipped
// and counted: the caller sees it as copied < total. No file is ever left
// half-written in the destination: every file is written under a temporary
// name the sync engine ignores and renamed once complete (platform/file_copy.h),
// and Cancel stops the running file at its next chunk and removes its
// temporary file.
//
// Threads: Run() blocks the thread that calls it (the copy window's worker
// thread); Cancel() may be called from any thread. The sink is called on the
// Run() thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace orlin {

// What the copy window shows, handed over on every update.
struct CopyProgress {
  std::wstring currentFileName;  // the file being copied, without its folder
  int currentPercent = 0;        // 0..100 of the current file; 100 for an empty file
  std::wstring currentTotalText;   // the current file's size ("1.50 KiB")
  std::wstring currentCopiedText;  // how much of it is copied
  int totalFiles = 0;
  int copiedFiles = 0;
  // The current file is finished and counted in copiedFiles: its percent no
  // longer adds to the overall progress.
  bool currentCounted = false;
  std::wstring fromPath;  // the source sub-folder most recently entered (empty at the top level)
  std::wstring toPath;    // the destination folder made for it
};

class CopyProgressSink {
 public:
  virtual ~CopyProgressSink() = default;
  // Called on the copying thread.
  virtual void OnCopyProgress(const CopyProgress& progress) = 0;
};

enum class CopyEnd {
  kAllCopied,   // every file arrived (also when there was none)
  kSomeFailed,  // finished, but copiedFiles < totalFiles
  kCancelled,   // Cancel() stopped it
  kRefused,     // the destination is the source or lies inside it: nothing copied
  kNoSource,    // the source does not exist: nothing copied
};

struct CopySummary {
  CopyEnd end = CopyEnd::kAllCopied;
  int totalFiles = 0;
  int copiedFiles = 0;
  std::uint64_t bytes = 0;
};

// "%.02f %s": bytes while the value is at most 1024, then KiB, MiB, GiB
// (1536 bytes are "1.50 KiB", 1024 bytes "1024.00 B").
std::wstring CopySizeText(std::uint64_t bytes);
// copied * 100 / total by integer division; 100 for an empty file.
int CopyPercent(std::uint64_t copied, std::uint64_t total);
// The overall bar's value for a bar of maximum `barMax`: the files done and
// the running file's share, in the window's single precision. With no files
// at all the copy is complete (100 % of the bar).
int OverallPercent(int barMax, int totalFiles, int copiedFiles, int runningPercent);
// The same for an update: a finished file counts once, in its copied files.
int OverallPercent(int barMax, const CopyProgress& progress);

struct CopyWorkerOptions {
  // The sink hears at most one update per interval while files are copied
  // (a folder of many small files would otherwise repaint the window for
  // each of them), and always the last one. Zero: every update.
  std::chrono::milliseconds updateInterval{40};
};

class CopyWorker {
 public:
  // `sink` may be null and must outlive Run().
  CopyWorker(std::filesystem::path source, std::filesystem::path destination, CopyProgressSink* sink,
             CopyWorkerOptions options = {});
  CopyWorker(const CopyWorker&) = delete;
  CopyWorker& operator=(const CopyWorker&) = delete;

  // Counts the files, then copies them. Once.
  CopySummary Run();
  // Stops the copy at the running file's next chunk. Any thread; also before Run().
  void Cancel() { cancel_.store(1); }
  bool IsCancelled() const { return cancel_.load() == 1; }

  const std::filesystem::path& Source() const { return source_; }
  const std::filesystem::path& Destination() const { return destination_; }

  // The temporary name a file is written under in `folder`: one the sync
  // engine takes for its own temporary file and never synchronises.
  static std::filesystem::path TemporaryFor(const std::filesystem::path& folder, const std::wstring& fileName);

 private:
  int Count(const std::filesystem::path& path) const;
  int CountFolder(const std::filesystem::path& folder) const;
  void CopyFolder(const std::filesystem::path& folder, const std::filesystem::path& target);
  void CopyOne(const std::filesystem::path& file, const std::filesystem::path& target, bool link);
  void Report(bool force);

  std::filesystem::path source_;
  std::filesystem::path destination_;
  CopyProgressSink* sink_;
  CopyWorkerOptions options_;
  std::atomic<int> cancel_{0};
  CopyProgress progress_;
  // The running file's figures; the size texts are made from them only for
  // the updates the sink hears.
  std::uint64_t currentCopied_ = 0;
  std::uint64_t currentTotal_ = 0;
  bool currentKnown_ = false;
  std::uint64_t bytes_ = 0;
  std::chrono::steady_clock::time_point lastReport_{};
};

}  // namespace orlin
