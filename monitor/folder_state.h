#pragma once
// The folder's state as the user reads it: the status key, the status code,
// the folder percent and the progress bar's value, derived from one folder
// status answer and what the earlier answers left behind.
//
// DeriveFolderState is a pure function, so the whole rule (state overrides,
// the sampled percent, the state handlers) can be read and tested in one
// place. The folder status handler (monitor/folder.cpp) feeds it, stores the
// result in the model and only then tells the window, so a reader that starts
// late reads the same state the window shows.

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/status_model.h"

namespace orlin {

// What one answer's derivation leaves for the next.
struct FolderProgress {
  std::int32_t percent = 0;             // the folder percent, 0..100
  std::uint64_t storedMaximum = 0;      // highest inSyncBytes sample taken for the percent
  std::vector<std::uint64_t> samples;   // inSyncBytes samples since the percent last moved
  std::int32_t statusCode = SharedFolderState::kUpToDate;
  std::wstring statusKey;               // empty until a state handler chose one
  std::int32_t progress = 0;            // the progress bar's value
};

// What the derivation depends on besides the answer.
struct FolderFacts {
  std::int32_t folderType = SharedFolderState::kSendReceive;
  bool pauseBeingApplied = false;  // the last configuration fetch was a pause
  std::uint64_t scanTotal = 0;     // of the last FolderScanProgress event
  std::uint64_t scanCurrent = 0;
};

struct DerivedFolderState {
  // The folder state text: the engine's state, or "localadditions",
  // "paused" or "outofsync" where those override it.
  std::string stateText;
  FolderProgress after;
  // Whether the state handler set the label and the progress (the window is
  // told even when the value is the one it shows); "scan-waiting" sets
  // neither.
  bool labelSet = false;
  bool progressSet = false;
  bool clearUnsynced = false;     // the folder is up to date: nothing is missing
  bool offerOverride = false;     // out of sync while send-only
  bool showLocalChanges = false;  // receive-only with local changes
  bool syncReachedEnd = false;    // syncing showed 100
};

// The percent moves only every tenth answer and never back while it stays
// between 2 and 99 (blocks of a large file arrive out of order); an answer
// without bytes in the folder counts as complete.
DerivedFolderState DeriveFolderState(const FolderStatus& answer, const FolderProgress& before,
                                     const FolderFacts& facts);

}  // namespace orlin
