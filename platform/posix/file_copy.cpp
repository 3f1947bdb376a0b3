#include "platform/file_copy.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace orlin::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int Close() {
    if (fd_ < 0) return 0;
    const int r = ::close(fd_);
    fd_ = -1;
    return r;
  }

 private:
  int fd_;
};

// Which way of moving bytes the kernel allows between the two files. Tried
// in this order; a refusal on the first chunk steps down to the next.
enum class Mover { kCopyFileRange, kSendfile, kReadWrite };

bool RefusedByKernel(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EBADF ||
         error == EPERM || error == ENOTSUP;
}

// Moves up to `want` bytes; the count moved, 0 at the end of the source, -1
// with errno on failure.
ssize_t MoveChunk(Mover mover, int in, int out, std::size_t want, std::vector<char>& buffer) {
  switch (mover) {
    case Mover::kCopyFileRange:
      return ::copy_file_range(in, nullptr, out, nullptr, want, 0);
    case Mover::kSendfile:
      return ::sendfile(out, in, nullptr, want);
    case Mover::kReadWrite: {
      if (buffer.empty()) buffer.resize(1u << 20);
      const ssize_t n = ::read(in, buffer.data(), std::min(want, buffer.size()));
      if (n <= 0) return n;
      ssize_t written = 0;
      while (written < n) {
        const ssize_t w = ::write(out, buffer.data() + written, static_cast<std::size_t>(n - written));
        if (w < 0) {
          if (errno == EINTR) continue;
          return -1;
        }
        written += w;
      }
      return n;
    }
  }
  return -1;
}

bool Cancelled(const std::atomic<int>* cancel) { return cancel != nullptr && cancel->load() == 1; }

}  // namespace

FileCopyOutcome CopyFileWithProgress(const std::filesystem::path& from, const std::filesystem::path& to,
                                     const std::filesystem::path& temporary, const std::atomic<int>* cancel,
                                     const FileCopyProgress& progress) {
  FileCopyOutcome outcome;
  // Not blocking: a named pipe would otherwise wait for a writer for ever.
  // Only a regular file is copied, and reading one never blocks, so the
  // flag stays.
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!in.ok()) {
    outcome.error = LastError();
    return outcome;
  }
  struct stat source {};
  if (::fstat(in.get(), &source) != 0) {
    outcome.error = LastError();
    return outcome;
  }
  if (!S_ISREG(source.st_mode)) {
    outcome.error = std::make_error_code(std::errc::invalid_argument);
    return outcome;
  }
  const auto total = static_cast<std::uint64_t>(source.st_size);
  if (Cancelled(cancel) || (progress && !progress(0, total))) {
    outcome.result = FileCopyResult::kCancelled;
    return outcome;
  }

  // The source's permission bits less the umask, as a plain copy makes
  // them; the descriptor can write whatever the bits say.
  const mode_t mode = source.st_mode & 07777;
  // A file of one chunk that is new at the destination is written under its
  // own name: no cancel can fall into it and a failure removes it, so the
  // rename would buy nothing. Anything else goes through the temporary name.
  const std::filesystem::path* written = &temporary;
  Fd out;
  if (total <= kFileCopyChunk) {
    out = Fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (out.ok()) written = &to;
  }
  if (!out.ok()) out = Fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!out.ok()) {
    outcome.error = LastError();
    return outcome;
  }
  // Everything below either keeps the complete copy or removes it.
  auto abandon = [&](FileCopyResult result, std::error_code error) {
    out.Close();
    ::unlink(written->c_str());
    outcome.result = result;
    outcome.error = error;
    return outcome;
  };

  Mover mover = Mover::kCopyFileRange;
  std::vector<char> buffer;
  std::uint64_t copied = 0;
  bool firstChunk = true;
  for (;;) {
    if (Cancelled(cancel)) return abandon(FileCopyResult::kCancelled, {});
    const std::size_t want = static_cast<std::size_t>(kFileCopyChunk);
    const ssize_t n = MoveChunk(mover, in.get(), out.get(), want, buffer);
    if (n < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (firstChunk && copied == 0 && mover != Mover::kReadWrite && RefusedByKernel(error)) {
        mover = mover == Mover::kCopyFileRange ? Mover::kSendfile : Mover::kReadWrite;
        continue;
      }
      return abandon(FileCopyResult::kFailed, {error, std::generic_category()});
    }
    firstChunk = false;
    if (n == 0) break;
    copied += static_cast<std::uint64_t>(n);
    if (progress && !progress(copied, std::max(total, copied))) return abandon(FileCopyResult::kCancelled, {});
    // The file as it was when the copy began is complete: one call less
    // per file than asking for the end of the file.
    if (copied == total) break;
  }

  // The source's modification time, as the system copy on Windows keeps
  // it; the engine takes an unchanged time for an unchanged file.
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  ::futimens(out.get(), times);
  if (out.Close() != 0) return abandon(FileCopyResult::kFailed, LastError());
  if (Cancelled(cancel)) {
    ::unlink(written->c_str());
    outcome.result = FileCopyResult::kCancelled;
    return outcome;
  }
  if (written == &temporary && ::rename(temporary.c_str(), to.c_str()) != 0) {
    const std::error_code error = LastError();
    ::unlink(temporary.c_str());
    outcome.error = error;
    return outcome;
  }
  outcome.result = FileCopyResult::kCopied;
  outcome.bytes = copied;
  return outcome;
}

bool IsSameOrInside(const std::filesystem::path& inner, const std::filesystem::path& outer) {
  std::error_code ec;
  const auto a = std::filesystem::absolute(inner, ec).lexically_normal();
  const auto b = std::filesystem::absolute(outer, ec).lexically_normal();
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi) {
    // A trailing separator leaves an empty last component.
    if (bi->empty()) continue;
    while (ai != a.end() && ai->empty()) ++ai;
    if (ai == a.end() || *ai != *bi) return false;
    ++ai;
  }
  return true;
}

}  // namespace orlin::platform
