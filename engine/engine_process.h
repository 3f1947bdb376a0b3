#pragma once
// Supervision of the sync engine process `Sync.exe`.
//
// Orlin keeps no handle on the engine: it finds it by scanning the process
// table for the image name "sync.exe" (any case), starts it hidden when none
// is there, and stops it by terminating every process of that name. Any
// process of that name counts, whoever started it.
//
// Threads: the operations run on the calling thread (controller start-up,
// the main window's data thread, the UI thread at quit). They share only the
// process count, which is atomic; nothing serialises two callers of
// EnsureRunning, as two engines would anyway settle to one (the second cannot
// bind the REST port and exits).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "common/clock.h"
#include "platform/process.h"

namespace orlin {

class MessagePresenter;

struct EngineProcessOptions {
  // A run of failed starts shows "Sync_NoRunning_Msg" on the first failure
  // and then at most once per this interval, counted from when the previous
  // message was closed, so the modal message does not come straight back.
  std::chrono::steady_clock::duration messageInterval = std::chrono::seconds(5);
  // Failed starts are retried after 1 ms, doubling up to this delay.
  std::chrono::steady_clock::duration maxRetryDelay = std::chrono::seconds(1);
};

class EngineProcess {
 public:
  static constexpr const wchar_t* kImageName = L"sync.exe";
  static constexpr std::uint32_t kTerminateExitCode = 9;

  // `installDir` holds Sync.exe; the engine home is <installDir>/syncconfig.
  // The table, presenter and clock must outlive this object.
  EngineProcess(std::filesystem::path installDir, platform::ProcessTable& table, MessagePresenter& presenter,
                Clock& clock, EngineProcessOptions options = {});

  // The engine path and its home, each wrapped in double quotes when it has a
  // blank: "<dir>\Sync.exe" -no-browser -no-console -home="<dir>\syncconfig".
  static std::wstring BuildCommandLine(const std::filesystem::path& installDir);
  const std::wstring& CommandLine() const { return commandLine_; }

  // Only this user's engine processes count: another user's engine (another
  // session on the same computer) is neither ended nor taken for ours.
  //
  // True when at least one engine process exists. Sets the process count to
  // the number found; a table that cannot be read gives false and leaves the
  // count as it was.
  bool IsRunning();

  // Number of engine processes seen by the last scan; -1 before the first
  // scan of a start attempt.
  int ProcessCount() const { return count_.load(); }

  // Returns once an engine process exists, starting one when none does. An
  // engine process the last scan found that still runs is enough: the main
  // window's data thread asks ten times a second, and one look at a known
  // process costs a fraction of a walk over the whole table.
  // Failed starts show "Sync_NoRunning_Msg" (title "Orlin", Cancel shown),
  // paced as in EngineProcessOptions, and are retried until a start succeeds
  // or `stop` is requested; returns false only in that last case.
  bool EnsureRunning(std::stop_token stop = {});

  // Terminates every engine process once (exit code 9); failures are ignored.
  void TerminateAll();

  // Terminates until no engine process is left, checking every 10 ms, or
  // until `stop` is requested or `limit` has passed; returns whether none is
  // left.
  bool StopAll(std::stop_token stop = {},
               std::chrono::steady_clock::duration limit = std::chrono::steady_clock::duration::max());

  // Our engine runs but its REST interface does not answer us (another
  // user's engine holds the port, say): shows "Sync_NoRunning_Msg" paced as
  // a run of failed starts, so the user learns why nothing happens.
  void ReportNotAnswering();
  // Engines of other users seen by the last scan.
  int OtherUsersEngines() const { return others_.load(); }

 private:
  bool IsEngineImage(const std::wstring& imageName) const;
  // Engine processes in the table, or nullopt when it could not be read.
  std::optional<int> CountEngines();
  // Whether an engine process of the last scan still runs (false when none
  // is known or the table cannot tell without a scan).
  bool KnownEngineRuns();
  // Shows the failure message when due; returns the delay before the retry.
  std::chrono::steady_clock::duration NoteStartFailure();

  std::filesystem::path installDir_;
  std::wstring commandLine_;
  platform::ProcessTable& table_;
  MessagePresenter& presenter_;
  Clock& clock_;
  EngineProcessOptions options_;
  std::atomic<int> count_{-1};
  std::atomic<int> others_{0};
  // This user's engine processes found by the last scan.
  std::mutex knownMutex_;
  std::vector<platform::ProcessEntry> known_;

  // Pacing of a run of failed starts; reset by the first successful start.
  std::mutex failureMutex_;
  bool inFailureRun_ = false;
  std::chrono::steady_clock::time_point lastMessageClosed_{};
  std::chrono::steady_clock::duration retryDelay_{};
};

}  // namespace orlin
