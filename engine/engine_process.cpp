#include "engine/engine_process.h"

#include <algorithm>
#include <condition_variable>
#include <utility>

#include "common/message_presenter.h"
#include "common/text.h"

namespace orlin {
namespace {

constexpr auto kScanPause = std::chrono::milliseconds(1);
constexpr auto kStopPause = std::chrono::milliseconds(10);
constexpr auto kFirstRetryDelay = std::chrono::milliseconds(1);

std::wstring QuoteIfBlank(const std::wstring& text) {
  if (text.find(L' ') == std::wstring::npos) return text;
  return L"\"" + text + L"\"";
}

}  // namespace


EngineProcess::EngineProcess(std::filesystem::path installDir, platform::ProcessTable& table,
                             MessagePresenter& presenter, Clock& clock, EngineProcessOptions options)
    : installDir_(std::move(installDir)),
      commandLine_(BuildCommandLine(installDir_)),
      table_(table),
      presenter_(presenter),
      clock_(clock),
      options_(options) {}

std::wstring EngineProcess::BuildCommandLine(const std::filesystem::path& installDir) {
  const std::wstring engine = WideFromPath(installDir / "Sync.exe");
  const std::wstring home = WideFromPath(installDir / "syncconfig");
  return QuoteIfBlank(engine) + L" -no-browser -no-console -home=" + QuoteIfBlank(home);
}

bool EngineProcess::IsEngineImage(const std::wstring& imageName) const {
  return AsciiLower(imageName) == kImageName;
}

std::optional<int> EngineProcess::CountEngines() {
  // One pass over the table; the pause between entries of a snapshot walk
  // buys nothing when the whole table arrives as one list.
  const auto entries = table_.ScanFor(kImageName);
  if (!entries) return std::nullopt;
  int found = 0;
  int others = 0;
  std::vector<platform::ProcessEntry> known;
  for (const auto& entry : *entries) {
    if (!IsEngineImage(entry.imageName)) continue;
    ++(entry.ownedByCurrentUser ? found : others);
    if (entry.ownedByCurrentUser) known.push_back(entry);
  }
  {
    std::lock_guard lock(knownMutex_);
    known_ = std::move(known);
  }
  count_.store(found);
  others_.store(others);
  return found;
}

bool EngineProcess::IsRunning() {
  const auto found = CountEngines();
  return found && *found > 0;
}

std::chrono::steady_clock::duration EngineProcess::NoteStartFailure() {
  bool show = false;
  std::chrono::steady_clock::duration delay{};
  {
    std::lock_guard lock(failureMutex_);
    if (!inFailureRun_) {
      inFailureRun_ = true;
      retryDelay_ = kFirstRetryDelay;
      show = true;
    } else {
      show = clock_.SteadyNow() - lastMessageClosed_ >= options_.messageInterval;
      retryDelay_ = std::min<std::chrono::steady_clock::duration>(retryDelay_ * 2, options_.maxRetryDelay);
    }
    delay = retryDelay_;
  }
  if (show) {
    // Over the desktop: the engine may fail before any window of ours exists.
    // The answer does not matter: the start is retried either way.
    presenter_.ShowMessage(L"Orlin", L"Sync_NoRunning_Msg", /*showCancel=*/true);
    std::lock_guard lock(failureMutex_);
    lastMessageClosed_ = clock_.SteadyNow();
  }
  return delay;
}

bool EngineProcess::KnownEngineRuns() {
  std::vector<platform::ProcessEntry> known;
  {
    std::lock_guard lock(knownMutex_);
    known = known_;
  }
  for (const auto& entry : known) {
    const std::optional<bool> runs = table_.StillRunning(entry.pid, entry.imageName);
    if (!runs) return false;
    if (*runs) return true;
  }
  return false;
}

bool EngineProcess::EnsureRunning(std::stop_token stop) {
  if (KnownEngineRuns()) return true;
  count_.store(-1);
  for (;;) {
    const auto found = CountEngines();
    if (found && *found > 0) return true;
    if (stop.stop_requested()) return false;
    // A table that could not be read starts nothing in this pass.
    if (found) {
      if (table_.StartHidden(commandLine_)) {
        std::lock_guard lock(failureMutex_);
        inFailureRun_ = false;
      } else {
        clock_.SleepFor(NoteStartFailure(), stop);
        continue;
      }
    }
    clock_.SleepFor(kScanPause, stop);
  }
}

void EngineProcess::TerminateAll() {
  const auto entries = table_.ScanFor(kImageName);
  if (!entries) return;
  for (const auto& entry : *entries) {
    if (IsEngineImage(entry.imageName) && entry.ownedByCurrentUser) table_.Terminate(entry.pid, kTerminateExitCode);
  }
}

void EngineProcess::ReportNotAnswering() { NoteStartFailure(); }

bool EngineProcess::StopAll(std::stop_token stop, std::chrono::steady_clock::duration limit) {
  const auto began = clock_.SteadyNow();
  while (IsRunning()) {
    if (stop.stop_requested() || clock_.SteadyNow() - began >= limit) return false;
    TerminateAll();
    clock_.SleepFor(kStopPause, stop);
  }
  return true;
}

}  // namespace orlin
