#pragma once
// Running another program to its end: the updater runs the installer of a
// new version this way and acts on its exit code.
//
// POSIX: posix_spawn of `program` with `arguments` as its argv, the
// caller's environment and current directory, then waitpid.
// Windows: CreateProcessW with the words quoted as the program's command
// line splits them, no window of its own beyond what the program makes,
// then WaitForSingleObject and GetExitCodeProcess.
//
// Threads: blocks the calling thread (a worker, never the UI thread) until
// the program has ended.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orlin::platform {

// The program's exit code, or nullopt when it could not be started or did
// not end normally (killed by a signal).
std::optional<int> RunProgramAndWait(const std::filesystem::path& program, const std::vector<std::wstring>& arguments);

}  // namespace orlin::platform
