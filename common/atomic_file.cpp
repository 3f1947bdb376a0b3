#include "common/atomic_file.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "common/text.h"
#include "platform/file_sync.h"

namespace orlin {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTempMarker = ".tmp";
// Owner read and write only: the file may hold a key or credentials.
constexpr unsigned kTemporaryFileMode = 0600;

std::atomic<unsigned> temporaryCounter{0};

fs::path TemporaryNameFor(const fs::path& target) {
  fs::path temp = target;
  temp += std::string(kTempMarker) + std::to_string(platform::CurrentProcessId()) + "-" +
          std::to_string(temporaryCounter++);
  return temp;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The process id in a temporary file's name; nothing when it is no such name.
std::optional<unsigned long> WriterOf(std::string_view name) {
  const std::size_t at = name.rfind(kTempMarker);
  if (at == std::string_view::npos || at == 0) return std::nullopt;
  const std::string_view rest = name.substr(at + kTempMarker.size());
  const std::size_t dash = rest.find('-');
  if (dash == std::string_view::npos || !AllDigits(rest.substr(0, dash)) || !AllDigits(rest.substr(dash + 1))) {
    return std::nullopt;
  }
  try {
    return std::stoul(std::string(rest.substr(0, dash)));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::error_code WriteFileAtomically(const fs::path& target, std::string_view data, AtomicWriteOptions options) {
  const fs::path temp = TemporaryNameFor(target);

  std::error_code ec;
  const bool existed = fs::exists(target, ec);
  const fs::perms oldPerms = existed ? fs::status(target, ec).permissions() : fs::perms::unknown;

  if (auto err = platform::WriteAndSync(temp, data, kTemporaryFileMode)) {
    fs::remove(temp, ec);
    return err;
  }
  // Only the complete file gets the permissions it is to have.
  fs::perms finalPerms = static_cast<fs::perms>(options.mode != 0 ? options.mode : platform::DefaultFileMode());
  if (options.mode == 0 && existed && oldPerms != fs::perms::unknown) finalPerms = oldPerms;
  fs::permissions(temp, finalPerms & fs::perms::mask, ec);
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
  }
  return ec;
}

bool ReadWholeFile(const fs::path& file, std::string& out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return false;
  out = std::move(ss).str();
  return true;
}

bool IsAtomicWriteTemporaryName(std::string_view name) { return WriterOf(name).has_value(); }

int RemoveStaleTemporaryFiles(const fs::path& target) {
  const unsigned long self = platform::CurrentProcessId();
  const std::string targetName = WideToUtf8(WideFromPath(target.filename()));
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    if (!it->is_regular_file(entryError)) continue;
    const std::string name = WideToUtf8(WideFromPath(it->path().filename()));
    // "<target>.tmp<pid>-<n>" exactly: the name of another file that merely
    // begins with the target's is no temporary of it.
    if (!name.starts_with(targetName) || name.rfind(kTempMarker) != targetName.size()) continue;
    const auto writer = WriterOf(name);
    if (!writer || *writer == self) continue;
    if (fs::remove(it->path(), entryError)) ++removed;
  }
  return removed;
}

std::error_code CheckDirectoryWritable(const fs::path& dir) {
  const fs::path probe = TemporaryNameFor(dir / ".orlin-write-check");
  if (auto err = platform::WriteAndSync(probe, "", kTemporaryFileMode)) {
    std::error_code ignored;
    fs::remove(probe, ignored);
    return err;
  }
  std::error_code ec;
  fs::remove(probe, ec);
  return ec;
}

}  // namespace orlin
