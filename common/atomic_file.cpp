#include "common/atomic_file.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/file_sync.h"

namespace orlin {
namespace fs = std::filesystem;

std::error_code WriteFileAtomically(const fs::path& target, std::string_view data, AtomicWriteOptions options) {
  static std::atomic<unsigned> counter{0};
  fs::path temp = target;
  temp += ".tmp" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(counter++);

  std::error_code ec;
  const bool existed = fs::exists(target, ec);
  const fs::perms oldPerms = existed ? fs::status(target, ec).permissions() : fs::perms::unknown;

  if (auto err = platform::WriteAndSync(temp, data, options.mode)) {
    fs::remove(temp, ec);
    return err;
  }
  if (existed && options.mode == 0 && oldPerms != fs::perms::unknown) {
    fs::permissions(temp, oldPerms, ec);
  }
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

}  // namespace orlin
