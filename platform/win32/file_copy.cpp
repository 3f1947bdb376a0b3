#include "platform/file_copy.h"

#include <windows.h>

#include <cwctype>

namespace orlin::platform {
namespace {

struct RoutineContext {
  const std::atomic<int>* cancel;
  const FileCopyProgress* progress;
  std::uint64_t copied = 0;
  bool stoppedByCallback = false;
};

// The system calls this after every chunk it copied; PROGRESS_CANCEL makes
// it stop and delete the partial destination itself.
DWORD CALLBACK ProgressRoutine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                               DWORD, HANDLE, HANDLE, LPVOID data) {
  auto* context = static_cast<RoutineContext*>(data);
  context->copied = static_cast<std::uint64_t>(transferred.QuadPart);
  if (context->cancel && context->cancel->load() == 1) return PROGRESS_CANCEL;
  if (*context->progress &&
      !(*context->progress)(static_cast<std::uint64_t>(transferred.QuadPart), static_cast<std::uint64_t>(total.QuadPart))) {
    context->stoppedByCallback = true;
    return PROGRESS_CANCEL;
  }
  return PROGRESS_CONTINUE;
}

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

std::wstring Fold(const std::filesystem::path& part) {
  std::wstring s = part.wstring();
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return s;
}

}  // namespace

FileCopyOutcome CopyFileWithProgress(const std::filesystem::path& from, const std::filesystem::path& to,
                                     const std::filesystem::path& temporary, const std::atomic<int>* cancel,
                                     const FileCopyProgress& progress) {
  FileCopyOutcome outcome;
  if ((cancel && cancel->load() == 1)) {
    outcome.result = FileCopyResult::kCancelled;
    return outcome;
  }
  RoutineContext context{cancel, &progress};
  // The system's own cancel flag: a BOOL it reads while a chunk is copied.
  BOOL systemCancel = FALSE;
  const DWORD flags = 0x00000800 /* COPY_FILE_COPY_SYMLINK */ | 0x00000008 /* COPY_FILE_ALLOW_DECRYPTED_DESTINATION */ |
                      COPY_FILE_FAIL_IF_EXISTS;
  const BOOL ok = ::CopyFileExW(from.c_str(), temporary.c_str(), ProgressRoutine, &context, &systemCancel, flags);
  if (!ok) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    if (error == ERROR_REQUEST_ABORTED) {
      outcome.result = FileCopyResult::kCancelled;
    } else {
      outcome.error = {static_cast<int>(error), std::system_category()};
    }
    return outcome;
  }
  if (cancel && cancel->load() == 1) {
    ::DeleteFileW(temporary.c_str());
    outcome.result = FileCopyResult::kCancelled;
    return outcome;
  }
  if (!::MoveFileExW(temporary.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    outcome.error = LastError();
    ::DeleteFileW(temporary.c_str());
    return outcome;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(to.c_str(), GetFileExInfoStandard, &data)) {
    outcome.bytes = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  } else {
    outcome.bytes = context.copied;
  }
  outcome.result = FileCopyResult::kCopied;
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
