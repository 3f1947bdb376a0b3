#pragma once
// The install directory of one user when the programs are installed for
// every user in a directory nobody but the system may write (the Linux
// package puts them in /opt/orlin; platform/install_directory.h says where
// each user's directory is).
//
// The user's directory then looks as an install directory always does, so
// nothing else in Orlin needs to know: the state files are the user's own
// copies of the defaults beside the programs, and everything else (the
// programs, the engine link Sync.exe, the skins, res/) is a link to the
// shared file. The engine home, the log, the crash dumps and the channels
// to the running program are made there later by whoever needs them.
//
// Laying out runs at every start of orlin and orlin-cli, so a newer package
// that brings a new file reaches every user at their next start; it never
// replaces a file of the user's (a state file the user changed stays as it
// is), only links. Removing the package leaves the directory and the data in
// it untouched: its links then lead nowhere until the package comes back.

#include <filesystem>
#include <string>
#include <vector>

namespace orlin {

// The files the user writes, copied from the programs' defaults when missing.
inline constexpr const char* kUserStateFiles[] = {"lang.xml", "setting.xml", "userconfig.xml", "Orlin.ini"};

struct UserInstallResult {
  bool ok = true;                     // false when the directory itself could not be made
  std::vector<std::string> failures;  // one line for each entry that could not be laid out
};

// Makes `installDir` (owner-only when it is new) and lays it out from
// `programDir`: missing state files copied, links to every other entry of
// `programDir` made or pointed at it again, links into `programDir` whose
// target has gone removed.
UserInstallResult LayOutUserInstall(const std::filesystem::path& programDir, const std::filesystem::path& installDir);

}  // namespace orlin
