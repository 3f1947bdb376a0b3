#pragma once
// orlin-ctl: drives the windows of a running Orlin (started with
// ORLIN_AUTOMATION=1) through its install directory's local channel. The
// whole command runs in Run, so tests drive it in-process.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace orlin::ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;

// `args`: the words after the program's name. `defaultInstallDir`: the
// install directory when --install-dir is not given. Results go to `out`,
// messages to `err`; returns the exit code.
int Run(const std::vector<std::string>& args, const std::filesystem::path& defaultInstallDir, std::ostream& out,
        std::ostream& err);

}  // namespace orlin::ctl
