#include "platform/install_directory.h"

#include "platform/executable_path.h"

namespace orlin::platform {

std::filesystem::path ProgramDirectory() { return ExecutablePath().parent_path(); }

// Orlin is installed for the user on Windows, into a directory the user
// writes to: the install directory is the programs' own.
std::filesystem::path InstallDirectory() { return ProgramDirectory(); }

}  // namespace orlin::platform
