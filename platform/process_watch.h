#pragma once
// Following a process this program did not start: where its executable
// lies, and waiting for it to end without polling the process table. The
// watchdog follows the Orlin of its install directory with it.
//
// POSIX (Linux): /proc/PID/exe; the end is waited for on a pidfd, or, on a
// kernel without pidfd_open, by a look once a second.
// Windows: QueryFullProcessImageNameW; OpenProcess with SYNCHRONIZE and
// WaitForSingleObject.
//
// Threads: no state; any thread.

#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/process.h"

namespace orlin::platform {

// The executable `pid` runs, or nullopt when the process is gone or may not
// be looked at.
std::optional<std::filesystem::path> ProcessImagePath(ProcessId pid);

enum class ProcessWait {
  kEnded,        // the process has ended (or never existed)
  kStillRuns,    // `timeout` passed first
  kCannotWatch,  // the system would not let this process be watched
};

// Blocks until `pid` has ended or `timeout` has passed.
ProcessWait WaitForProcessEnd(ProcessId pid, std::chrono::milliseconds timeout);

}  // namespace orlin::platform
