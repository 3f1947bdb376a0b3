#include "platform/file_sync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orlin::platform {

std::error_code WriteAndSync(const std::filesystem::path& file, std::string_view data, unsigned mode) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode ? mode : 0644);
  if (fd < 0) return {errno, std::generic_category()};
  if (mode) ::fchmod(fd, mode);  // the umask must not widen or narrow what was asked
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return {err, std::generic_category()};
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    return {err, std::generic_category()};
  }
  if (::close(fd) != 0) return {errno, std::generic_category()};
  return {};
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

unsigned DefaultFileMode() {
  // Read from /proc: setting the mask to read it back would race with
  // threads creating files meanwhile.
  unsigned mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, "Umask:", 6) == 0) {
        unsigned value = 0;
        if (std::sscanf(line + 6, "%o", &value) == 1) mask = value & 0777;
        break;
      }
    }
    std::fclose(status);
  }
  return 0666u & ~mask;
}

}  // namespace orlin::platform
