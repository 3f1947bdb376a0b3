#pragma once
// Whole-file writes that never leave half a file behind: the data goes to a
// temporary file beside the target, is flushed to disk and renamed over it.
// Readers (the engine, another Orlin window) see the old or the new file.
//
// The temporary file is readable by its owner only until it is complete,
// whatever the target's permissions: a process killed mid-write leaves no
// readable copy of the engine's API key or of the credentials behind. Such
// left-overs ("<target>.tmp<pid>-<n>") are removed by
// RemoveStaleTemporaryFiles at the next start.

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

// True when `name` is the name of a temporary file of WriteFileAtomically.
bool IsAtomicWriteTemporaryName(std::string_view name);

// Removes the temporary files that writes of `target` by other (ended)
// processes left beside it; those of this process may still be in use and
// stay, and no other file is touched (a sync folder holds the user's files).
// Returns how many were removed.
int RemoveStaleTemporaryFiles(const std::filesystem::path& target);

// Whether files can be created in `dir`: a small file is written, flushed
// and removed again. The error of the attempt, empty when it worked.
std::error_code CheckDirectoryWritable(const std::filesystem::path& dir);

}  // namespace orlin
