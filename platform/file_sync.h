#pragma once
// Writing a file durably, and the process id used to name temporary files.

#include <filesystem>
#include <string_view>
#include <system_error>

namespace orlin::platform {

// Creates (or truncates) `file`, writes `data`, flushes it to the disk and
// closes it. `mode` is the POSIX permission set of a new file (0 = default);
// it is ignored on Windows.
std::error_code WriteAndSync(const std::filesystem::path& file, std::string_view data, unsigned mode);

unsigned long CurrentProcessId();

// The permission set a file created without an explicit mode gets from the
// process's file creation mask (0666 less the umask on POSIX; 0644 on
// Windows, where only the owner's write bit means anything).
unsigned DefaultFileMode();

}  // namespace orlin::platform
