#pragma once
// Where this user's install directory is: the directory with the state
// files, the engine home, the log and the engine link Sync.exe.
//
// Most installs keep it beside the programs (the directory of the running
// executable), which the user can write to: a Windows install for the
// user, a directory laid out with `cmake --install`, the build tree.
// A system package puts the programs where no user may write (/opt/orlin)
// and a file named kPerUserInstallMarker beside them; every user then has an
// install directory of their own below $XDG_DATA_HOME (app/user_install.h
// lays it out). The programs are found through the executable's real path
// (/proc/self/exe resolves links), so a program started through a link in
// the user's directory and one started from /opt/orlin find the same place.

#include <filesystem>
#include <string_view>

namespace orlin::platform {

inline constexpr char kPerUserInstallMarker[] = "per-user-install";

// The directory of the running executable's real file.
std::filesystem::path ProgramDirectory();

// This user's install directory (see above).
std::filesystem::path InstallDirectory();

// The per-user install directory for the given $XDG_DATA_HOME and $HOME:
// $XDG_DATA_HOME/orlin when that is an absolute path (the XDG rule ignores a
// relative one), otherwise $HOME/.local/share/orlin; empty when neither is
// known.
inline std::filesystem::path PerUserInstallDirectory(std::string_view xdgDataHome, std::string_view home) {
  const std::filesystem::path data(xdgDataHome);
  if (!xdgDataHome.empty() && data.is_absolute()) return data / "orlin";
  if (home.empty()) return {};
  return std::filesystem::path(home) / ".local" / "share" / "orlin";
}

}  // namespace orlin::platform
