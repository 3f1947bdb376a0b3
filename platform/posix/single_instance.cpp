#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace orlin::platform {
namespace {

// Instance names are ASCII; anything else cannot appear in the file name.
std::string LockFileName(const std::wstring& name) {
  std::string out;
  for (wchar_t c : name) {
    const bool plain = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
                       c == L'_' || c == L'-' || c == L'.';
    out.push_back(plain ? static_cast<char>(c) : '_');
  }
  return out + ".lock";
}

}  // namespace

struct SingleInstanceGuard::Handle {
  int fd = -1;
};

SingleInstanceGuard::SingleInstanceGuard(const std::wstring& name, const std::filesystem::path& scopeDir) {
  std::error_code ec;
  std::filesystem::create_directories(scopeDir, ec);
  const auto lockFile = scopeDir / LockFileName(name);
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;  // nothing to hold: behave as the first instance
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    anotherRuns_ = errno == EWOULDBLOCK;
    ::close(fd);
    return;
  }
  handle_ = std::make_unique<Handle>();
  handle_->fd = fd;
}

SingleInstanceGuard::~SingleInstanceGuard() {
  if (handle_ && handle_->fd >= 0) ::close(handle_->fd);  // closing drops the lock
}

}  // namespace orlin::platform
