#pragma once
// Copying one file with progress and a cancel flag, as the copy progress
// window needs it, and the path comparison that keeps a copy out of itself.
//
// The copy never leaves half a file where the user looks: it is written to a
// temporary file beside the destination (named by the caller) and renamed
// over the destination only once it is complete. A cancelled or failed copy
// removes the temporary file and leaves the destination as it was. (A file
// of at most one chunk that does not exist at the destination yet is written
// under its own name: a cancel is only looked at between chunks, so it never
// falls into such a file, and a failure removes it.)
//
// POSIX: copy_file_range in chunks (the file system may share blocks instead
// of copying them), sendfile where the kernel refuses copy_file_range between
// the two file systems, read and write where neither is allowed. Windows:
// ReadFile and WriteFile in blocks, then MoveFileExW over the destination.
//
// Threads: any thread; the progress callback runs on the calling thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <system_error>

namespace orlin::platform {

enum class FileCopyResult {
  kCopied,     // the destination is the complete copy
  kCancelled,  // stopped by the cancel flag or the callback; nothing written
  kFailed,     // the source could not be read or the destination written
};

struct FileCopyOutcome {
  FileCopyResult result = FileCopyResult::kFailed;
  std::error_code error;  // set for kFailed
  std::uint64_t bytes = 0;  // bytes of the source copied
};

// Called with the bytes copied so far and the file's size: once before the
// first byte and after every chunk. Returning false cancels the copy.
using FileCopyProgress = std::function<bool(std::uint64_t copied, std::uint64_t total)>;

// How much is copied between two looks at the cancel flag and two progress
// calls.
inline constexpr std::uint64_t kFileCopyChunk = 8u * 1024u * 1024u;

// Copies the regular file `from` to `to` through `temporary` (a path in the
// destination's folder that does not exist yet). An existing `to` is
// replaced. The copy is the file as it was when the copy began; it keeps the
// source's modification time, and its permission bits as far as the umask
// lets them (POSIX). `cancel` (may be null) is read between chunks; 1 stops
// the copy.
FileCopyOutcome CopyFileWithProgress(const std::filesystem::path& from, const std::filesystem::path& to,
                                     const std::filesystem::path& temporary, const std::atomic<int>* cancel,
                                     const FileCopyProgress& progress);

// True when `inner` is `outer` itself or lies anywhere below it. Both are
// made absolute and compared component by component (without regard to case
// on Windows, whose file systems ignore it), so "/data/Sync2" is not inside
// "/data/Sync".
bool IsSameOrInside(const std::filesystem::path& inner, const std::filesystem::path& outer);

}  // namespace orlin::platform
