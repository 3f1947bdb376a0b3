#include "platform/file_copy.h"

#include <windows.h>

#include <cwctype>
#include <vector>

namespace orlin::platform {
namespace {

// Read and written in blocks of this size; the cancel flag is looked at
// after each block, progress reported after each chunk.
constexpr DWORD kBlock = 1u << 20;

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

bool Cancelled(const std::atomic<int>* cancel) { return cancel != nullptr && cancel->load() == 1; }

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!ok()) return true;
    const BOOL closed = ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }

 private:
  HANDLE h_;
};

std::wstring Fold(const std::filesystem::path& part) {
  std::wstring s = part.wstring();
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return s;
}

}  // namespace

// Chunked ReadFile and WriteFile rather than CopyFileExW: the copy stops
// within a block of the cancel, progress comes at the same pace on every
// system (some implementations of CopyFileExW never call its progress
// routine), and the temporary file is this function's to remove.
FileCopyOutcome CopyFileWithProgress(const std::filesystem::path& from, const std::filesystem::path& to,
                                     const std::filesystem::path& temporary, const std::atomic<int>* cancel,
                                     const FileCopyProgress& progress) {
  FileCopyOutcome outcome;
  Handle in(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in.ok()) {
    outcome.error = LastError();
    return outcome;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(in.get(), &info)) {
    outcome.error = LastError();
    return outcome;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    outcome.error = std::make_error_code(std::errc::invalid_argument);
    return outcome;
  }
  const std::uint64_t total = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (Cancelled(cancel) || (progress && !progress(0, total))) {
    outcome.result = FileCopyResult::kCancelled;
    return outcome;
  }

  // A file of one chunk that is new at the destination is written under its
  // own name (no cancel falls into it, a failure removes it); anything else
  // under the temporary name, renamed over the destination once complete.
  const std::filesystem::path* written = &temporary;
  Handle out;
  if (total <= kFileCopyChunk) {
    HANDLE h = ::CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      out.Reset(h);
      written = &to;
    }
  }
  if (!out.ok()) {
    HANDLE h = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      outcome.error = LastError();
      return outcome;
    }
    out.Reset(h);
  }
  auto abandon = [&](FileCopyResult result, std::error_code error) {
    out.Close();
    ::DeleteFileW(written->c_str());
    outcome.result = result;
    outcome.error = error;
    return outcome;
  };

  std::vector<char> buffer(kBlock);
  std::uint64_t copied = 0;
  std::uint64_t reported = 0;
  for (;;) {
    if (Cancelled(cancel)) return abandon(FileCopyResult::kCancelled, {});
    DWORD read = 0;
    if (!::ReadFile(in.get(), buffer.data(), kBlock, &read, nullptr)) return abandon(FileCopyResult::kFailed, LastError());
    if (read == 0) break;
    DWORD done = 0;
    while (done < read) {
      DWORD written = 0;
      if (!::WriteFile(out.get(), buffer.data() + done, read - done, &written, nullptr)) {
        return abandon(FileCopyResult::kFailed, LastError());
      }
      done += written;
    }
    copied += read;
    const bool complete = copied >= total;
    if (progress && (copied - reported >= kFileCopyChunk || complete)) {
      reported = copied;
      if (!progress(copied, copied > total ? copied : total)) return abandon(FileCopyResult::kCancelled, {});
    }
    if (complete) break;
  }

  // The source's times (the engine takes an unchanged time for an unchanged
  // file), then its attributes.
  ::SetFileTime(out.get(), &info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime);
  if (!out.Close()) return abandon(FileCopyResult::kFailed, LastError());
  if (Cancelled(cancel)) {
    ::DeleteFileW(written->c_str());
    outcome.result = FileCopyResult::kCancelled;
    return outcome;
  }
  if (written == &temporary && !::MoveFileExW(temporary.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    outcome.error = LastError();
    ::DeleteFileW(temporary.c_str());
    return outcome;
  }
  ::SetFileAttributesW(to.c_str(), info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_TEMPORARY));
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
    if (bi->empty()) continue;
    while (ai != a.end() && ai->empty()) ++ai;
    if (ai == a.end()) return false;
    // "C:" and "c:", "\" and "/" name the same place.
    const bool separator = (ai->wstring() == L"\\" || ai->wstring() == L"/") &&
                           (bi->wstring() == L"\\" || bi->wstring() == L"/");
    if (!separator && Fold(*ai) != Fold(*bi)) return false;
    ++ai;
  }
  return true;
}

}  // namespace orlin::platform
