#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace orlin::platform {

namespace {

// The line up to (not including) its line feed; nothing when the input
// ended before a single byte, or failed.
std::optional<std::string> ReadLine(int fd) {
  std::string line;
  bool any = false;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    any = true;
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  if (!::isatty(STDIN_FILENO)) return ReadLine(STDIN_FILENO);

  (void)!::write(STDERR_FILENO, prompt.data(), prompt.size());
  termios saved{};
  const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (quiet) {
    termios hidden = saved;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    hidden.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  std::optional<std::string> line = ReadLine(STDIN_FILENO);
  if (quiet) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  return line;
}

}  // namespace orlin::platform
