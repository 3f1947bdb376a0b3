#include "platform/install_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/executable_path.h"

namespace orlin::platform {

std::filesystem::path ProgramDirectory() { return ExecutablePath().parent_path(); }

std::filesystem::path InstallDirectory() {
  const std::filesystem::path programs = ProgramDirectory();
  std::error_code ec;
  if (programs.empty() || !std::filesystem::exists(programs / kPerUserInstallMarker, ec)) return programs;
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  // A program started without a HOME (a service, su without -l) still
  // belongs to its user.
  if (home == nullptr || *home == '\0') {
    if (const passwd* user = ::getpwuid(::getuid())) home = user->pw_dir;
  }
  return PerUserInstallDirectory(data ? data : "", home ? home : "");
}

}  // namespace orlin::platform
