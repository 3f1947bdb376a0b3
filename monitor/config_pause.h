#pragma once
// The pause flag in the engine's configuration: pausing and resuming take
// the whole configuration (system/config), set `paused` on the folders and
// post it back. Integers stay 64-bit and every other member stays as the
// engine sent it.

#include <optional>
#include <string>
#include <string_view>

namespace orlin {

enum class PauseEdit {
  kEdited,         // every folder is the managed one and now has the flag
  kUnknownFolder,  // the folder identifier is empty or some folder differs
  kNotParsable,    // empty, not JSON, or no `folders` array
};

struct PauseEditResult {
  PauseEdit outcome = PauseEdit::kNotParsable;
  std::string document;  // the configuration to post back (kEdited only)
};

// Walks `folders` in order; stops at the first folder whose `id` is not
// `folderId` (or at once when `folderId` is empty).
PauseEditResult SetFoldersPaused(std::string_view configuration, std::string_view folderId, bool paused);

}  // namespace orlin
