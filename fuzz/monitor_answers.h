#pragma once
// The engine's answers as the status poller hands them to their handlers:
// one function per answer, each feeding the bytes to the handler of that
// answer (monitor/answer_handlers.h) in a status model that has reached the
// state of a running poller, and checking what must hold afterwards. The
// targets in fuzz/targets/ are thin entry points to these, so the harness is
// compiled once for all of them.

#include <cstddef>
#include <string_view>

namespace orlin::fuzz {

// `variant` (the input's size) picks among the model's starting states.
void FuzzDiskEvents(std::string_view body, std::size_t variant);
void FuzzEventStream(std::string_view body, std::size_t variant);
void FuzzFolderCompletion(std::string_view body, std::size_t variant);
void FuzzFolderStatus(std::string_view body, std::size_t variant);
void FuzzUnsyncedFiles(std::string_view body, std::size_t variant);
void FuzzFailedFiles(std::string_view body, std::size_t variant);
void FuzzLocallyChanged(std::string_view body, std::size_t variant);
void FuzzFolderStatistics(std::string_view body, std::size_t variant);
void FuzzFolderFromConfig(std::string_view body, std::size_t variant);
void FuzzSystemStatus(std::string_view body, std::size_t variant);
void FuzzSystemVersion(std::string_view body, std::size_t variant);
void FuzzConnections(std::string_view body, std::size_t variant);
void FuzzDeviceNames(std::string_view body, std::size_t variant);
void FuzzRemoteCompletion(std::string_view body, std::size_t variant);

}  // namespace orlin::fuzz

// The entry point of a target that runs `run` on every input.
#define ORLIN_FUZZ_MONITOR_TARGET(run)                                                  \
  extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) { \
    run(std::string_view(reinterpret_cast<const char*>(data), size), size);             \
    return 0;                                                                            \
  }
