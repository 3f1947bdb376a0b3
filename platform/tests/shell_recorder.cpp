// Stands in for xdg-open, gdbus and dbus-send in the shell tests (the test
// links it under those names into a folder first on PATH). Appends one
// record to the file ORLIN_SHELL_RECORD names: the name it was called by and
// its arguments, each ended by a NUL byte, the record ended by "\x1e".
// Exits with 1 when its name is listed in ORLIN_SHELL_FAIL (blank-separated),
// else 0.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  std::string name = argv[0];
  if (auto slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
  std::string record = name + '\0';
  for (int i = 1; i < argc; ++i) record += std::string(argv[i]) + '\0';
  record += '\x1e';
  if (const char* file = std::getenv("ORLIN_SHELL_RECORD")) {
    // One write with O_APPEND: records of helpers running at once do not mix.
    int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      if (::write(fd, record.data(), record.size()) < 0) return 2;
      ::close(fd);
    }
  }
  if (const char* fail = std::getenv("ORLIN_SHELL_FAIL")) {
    std::istringstream names(fail);
    for (std::string n; names >> n;) {
      if (n == name) return 1;
    }
  }
  return 0;
}
