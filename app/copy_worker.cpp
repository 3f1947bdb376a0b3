#include "app/copy_worker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "platform/file_copy.h"
#include "platform/file_sync.h"

namespace orlin {
namespace fs = std::filesystem;

std::wstring CopySizeText(std::uint64_t bytes) {
  static const wchar_t* const kUnits[] = {L"B", L"KiB", L"MiB", L"GiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value > 1024.0 && unit < 3) {
    value /= 1024.0;
    ++unit;
  }
  wchar_t text[64];
  std::swprintf(text, sizeof text / sizeof text[0], L"%.02f %ls", value, kUnits[unit]);
  return text;
}

int CopyPercent(std::uint64_t copied, std::uint64_t total) {
  if (total == 0) return 100;
  if (copied >= total) return 100;
  return static_cast<int>(copied * 100 / total);
}

int OverallPercent(int barMax, int totalFiles, int copiedFiles, int runningPercent) {
  if (barMax == 0) return 0;
  if (totalFiles <= 0) return 100;
  const float x = static_cast<float>(barMax * 1.0 / totalFiles);
  const float v = static_cast<float>(copiedFiles) * x + static_cast<float>(runningPercent) * x / 100.0f;
  return std::min(static_cast<int>(std::trunc(v)) * 100 / barMax, 100);
}

int OverallPercent(int barMax, const CopyProgress& progress) {
  return OverallPercent(barMax, progress.totalFiles, progress.copiedFiles,
                        progress.currentCounted ? 0 : progress.currentPercent);
}

CopyWorker::CopyWorker(fs::path source, fs::path destination, CopyProgressSink* sink, CopyWorkerOptions options)
    : source_(std::move(source)), destination_(std::move(destination)), sink_(sink), options_(options) {}

fs::path CopyWorker::TemporaryFor(const fs::path& folder, const std::wstring& fileName) {
  static std::atomic<unsigned> counter{0};
  // The engine's own temporary files start with ".syncthing." and end with
  // ".tmp": it neither synchronises nor reports them. Names near the file
  // system's limit of 255 characters are cut.
  static const std::wstring process = std::to_wstring(platform::CurrentProcessId());
  std::wstring name = fileName.size() > 180 ? fileName.substr(0, 180) : fileName;
  const std::wstring unique = process + L"-" + std::to_wstring(counter.fetch_add(1));
  return folder / fs::path(L".syncthing." + name + L"." + unique + L".tmp");
}

// The same, built from the file's own name as the system spells it (no
// conversion of the name on the way), for the copy's inner loop.
static fs::path TemporaryBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  static const std::string process = std::to_string(platform::CurrentProcessId());
  fs::path name = target.filename();
  if (name.native().size() > 180) name = fs::path(name.native().substr(0, 180));
  fs::path temporary = target.parent_path() / ".syncthing.";
  temporary += name;
  temporary += "." + process + "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
  return temporary;
}

int CopyWorker::Count(const fs::path& path) const {
  std::error_code ec;
  const auto status = fs::symlink_status(path, ec);
  if (ec) return 0;
  if (!fs::is_directory(status)) return 1;
  return CountFolder(path);
}

int CopyWorker::CountFolder(const fs::path& folder) const {
  int count = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (IsCancelled()) return count;
    // The entry's type as the folder listing gave it: no look at the file.
    std::error_code typeError;
    if (it->is_directory(typeError) && !it->is_symlink(typeError)) {
      count += CountFolder(it->path());
    } else {
      ++count;
    }
  }
  return count;
}

void CopyWorker::Report(bool force) {
  if (!sink_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && options_.updateInterval.count() > 0 && now - lastReport_ < options_.updateInterval) return;
  lastReport_ = now;
  if (currentKnown_) {
    progress_.currentTotalText = CopySizeText(currentTotal_);
    progress_.currentCopiedText = CopySizeText(currentCopied_);
  }
  sink_->OnCopyProgress(progress_);
}

void CopyWorker::CopyOne(const fs::path& file, const fs::path& target, bool link) {
  progress_.currentFileName = WideFromPath(file.filename());
  progress_.currentPercent = 0;
  progress_.currentCounted = false;
  std::error_code ec;
  if (link) {
    // A link is copied as a link, as the system copy does it.
    fs::remove(target, ec);
    ec.clear();
    fs::copy_symlink(file, target, ec);
    if (!ec) {
      ++progress_.copiedFiles;
      progress_.currentPercent = 100;
      progress_.currentCounted = true;
    }
    Report(false);
    return;
  }
  const fs::path temporary = TemporaryBeside(target);
  const auto outcome = platform::CopyFileWithProgress(
      file, target, temporary, &cancel_, [this](std::uint64_t copied, std::uint64_t total) {
        progress_.currentPercent = CopyPercent(copied, total);
        currentCopied_ = copied;
        currentTotal_ = total;
        currentKnown_ = true;
        Report(false);
        return !IsCancelled();
      });
  if (outcome.result == platform::FileCopyResult::kCopied) {
    ++progress_.copiedFiles;
    bytes_ += outcome.bytes;
    progress_.currentPercent = 100;
    progress_.currentCounted = true;
  }
  Report(false);
}

void CopyWorker::CopyFolder(const fs::path& folder, const fs::path& target) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  for (const fs::directory_entry& item : entries) {
    if (IsCancelled()) return;
    const fs::path& entry = item.path();
    const fs::path to = target / entry.filename();
    // The entry's type as the folder listing gave it.
    std::error_code typeError;
    const bool link = item.is_symlink(typeError);
    if (!link && item.is_directory(typeError)) {
      progress_.fromPath = WideFromPath(entry);
      progress_.toPath = WideFromPath(to);
      // An existing folder is no error; one that cannot be made shows as
      // files that fail one by one.
      std::error_code mkdirError;
      fs::create_directory(to, mkdirError);
      CopyFolder(entry, to);
    } else {
      CopyOne(entry, to, link);
    }
  }
}

CopySummary CopyWorker::Run() {
  CopySummary summary;
  std::error_code ec;
  const auto status = fs::symlink_status(source_, ec);
  if (ec || !fs::exists(status)) {
    summary.end = CopyEnd::kNoSource;
    return summary;
  }
  const bool folder = fs::is_directory(status);
  // A copy into its own source would copy what it has just copied, for ever.
  if (folder && platform::IsSameOrInside(destination_, source_)) {
    summary.end = CopyEnd::kRefused;
    return summary;
  }

  progress_ = CopyProgress{};
  progress_.totalFiles = Count(source_);
  Report(true);
  if (!IsCancelled()) {
    if (folder) {
      fs::create_directories(destination_, ec);
      CopyFolder(source_, destination_);
    } else {
      CopyOne(source_, destination_ / source_.filename(), fs::is_symlink(status));
    }
  }
  Report(true);

  summary.totalFiles = progress_.totalFiles;
  summary.copiedFiles = progress_.copiedFiles;
  summary.bytes = bytes_;
  if (IsCancelled()) {
    summary.end = CopyEnd::kCancelled;
  } else if (summary.copiedFiles == summary.totalFiles) {
    summary.end = CopyEnd::kAllCopied;
  } else {
    summary.end = CopyEnd::kSomeFailed;
  }
  return summary;
}

}  // namespace orlin
