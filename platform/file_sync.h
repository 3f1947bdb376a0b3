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

}  // namespace orlin::platform
