#pragma once
// Pieces of the event-feed handlers (monitor/answer_handlers.h) that other
// parsers and the tests share. Pure functions, or functions that take the
// model's own locks; all run on the request loop thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/status_model.h"

namespace orlin {

// The infix the engine puts into the name of a conflict copy.
inline constexpr std::string_view kConflictInfix = ".sync-conflict-";

// The file a conflict copy belongs to: the copy's path cut before the infix,
// followed by everything from the last '.' of the whole path
// ("a/report.sync-conflict-20200301-101112-ABCDEFG.docx" -> "a/report.docx").
// A path without the infix is returned unchanged.
std::string ConflictOriginalPath(std::string_view path);

// The figures of one completion event (or answer) for a device.
struct CompletionFigures {
  std::string deviceId;
  std::string folder;
  std::string time;  // engine time; empty when the answer carries none
  double completion = 0;
  std::uint64_t needItems = 0;
  std::uint64_t globalBytes = 0;
  std::uint64_t needBytes = 0;
  std::uint64_t needDeletes = 0;
};

// Applies a completion event to the device list under its lock: a device not
// yet listed gets a new record (without the event's time, so the next event
// for it always applies); a listed one is updated only when the event is newer
// than the last one applied (engine times compare byte-wise). Returns false
// when the event names no device.
bool ApplyCompletionEvent(GuardedList<DeviceRecord>& devices, const CompletionFigures& event);

}  // namespace orlin
