#pragma once
// How a downloaded package of a new Orlin version is installed without
// questions, as the updater runs it.
//
// Windows: the NSIS installer itself with /S (Orlin is installed for the
// user, so no other rights are needed; it installs where the running
// version lies).
// POSIX: a Debian package goes through the package manager, which checks
// its dependencies and keeps the system's record of what is installed:
// `apt-get install -y PACKAGE` when the updater runs as root, else through
// pkexec (the desktop asks for an administrator's password). Only programs
// the package installed for every user (platform/install_directory.h) are
// updated so; a directory laid out by hand has no installer (empty).

#include <filesystem>
#include <string>
#include <vector>

namespace orlin::platform {

// The command line (program first) that installs `package` silently for the
// programs in `programDir`; empty when there is none.
std::vector<std::wstring> SilentInstallCommand(const std::filesystem::path& package,
                                               const std::filesystem::path& programDir);

}  // namespace orlin::platform
