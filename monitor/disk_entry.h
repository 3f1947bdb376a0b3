#pragma once
// What a path the engine reports (relative to the sync folder) is on this
// computer's disk. The lists and orlin-cli show sizes of some rows from here
// rather than from the engine's answer, so both use this one rule.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace orlin {

// The file of this computer for a path relative to the sync folder; nullopt
// when the path would lead out of the folder (absolute, or through "..").
std::optional<std::filesystem::path> InSyncFolder(const std::filesystem::path& folder, const std::wstring& relative);

struct DiskEntry {
  enum class Kind : std::uint8_t { kMissing, kFolder, kFile };
  Kind kind = Kind::kMissing;
  std::uintmax_t size = 0;  // bytes of a file; 0 otherwise
};

// One look for a regular file (the common case), two for anything else.
DiskEntry ExamineInSyncFolder(const std::filesystem::path& folder, const std::wstring& relative);

}  // namespace orlin
