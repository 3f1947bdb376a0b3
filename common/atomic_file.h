#pragma once
// Whole-file writes that never leave half a file behind: the data goes to a
// temporary file beside the target, is flushed to disk and renamed over it.
// Readers (the engine, another Orlin window) see the old or the new file.

#include <filesystem>
#include <string_view>
#include <system_error>

namespace orlin {

struct AtomicWriteOptions {
  // POSIX permission bits of a newly created file; 0 keeps the target's
  // current permissions (or the default ones for a new file).
  unsigned mode = 0;
};

// Returns an empty error_code on success.
std::error_code WriteFileAtomically(const std::filesystem::path& target, std::string_view data,
                                    AtomicWriteOptions options = {});

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& file, std::string& out);

}  // namespace orlin
