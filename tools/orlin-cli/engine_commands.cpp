// pause, resume, refresh, revert and override: the controller's verbs, with
// the poller running so that each command can wait until the engine's state
// shows it was carried out.

#include <chrono>
#include <iostream>
#include <thread>

#include "cli.h"

namespace orlin::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(100);
// The engine answers within seconds; a busy one (a large scan) may take a
// while before it reports the folder's new state.
constexpr auto kStateLimit = std::chrono::seconds(120);

bool NeedsLogin(Context& context, const char* command) {
  if (!context.controller.LoginNeeded()) return false;
  context.err << "orlin-cli " << command << ": not logged in\n";
  return true;
}

template <typename Done>
bool WaitFor(Done done) {
  const Clock::time_point deadline = Clock::now() + kStateLimit;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kTick);
  }
  return true;
}

// Starts polling and waits until the poller knows the folder and has read
// its state once, which the commands below depend on.
bool StartWatching(Context& context, const char* command) {
  if (!context.controller.StartSync()) {
    context.err << "orlin-cli " << command << ": the request loop did not start\n";
    return false;
  }
  const SharedFolderState& folder = context.controller.Status().folder;
  if (!WaitFor([&] { return !folder.FolderId().empty() && !folder.FolderStateText().empty(); })) {
    context.err << "orlin-cli " << command << ": the engine did not report the folder within "
                << std::chrono::duration_cast<std::chrono::seconds>(kStateLimit).count() << " s\n";
    return false;
  }
  return true;
}

int SetPaused(Context& context, bool paused, const char* command) {
  if (NeedsLogin(context, command)) return kExitFailed;
  if (!StartWatching(context, command)) return kExitFailed;
  const SharedFolderState& folder = context.controller.Status().folder;
  if (paused) {
    context.controller.Pause();
  } else {
    context.controller.Resume();
  }
  const bool shown = WaitFor([&] { return (folder.FolderStateText() == "paused") == paused; });
  context.controller.StopSync();
  if (!shown) {
    context.err << "orlin-cli " << command << ": the engine did not report the folder "
                << (paused ? "paused" : "running") << " in time\n";
    return kExitFailed;
  }
  context.out << (paused ? "paused\n" : "resumed\n");
  return kExitOk;
}

int Report(Context& context, CommandOutcome outcome, const char* command, const char* done) {
  context.controller.StopSync();
  switch (outcome) {
    case CommandOutcome::kDone:
      context.out << done << "\n";
      return kExitOk;
    case CommandOutcome::kNothingToDo:
      context.err << "orlin-cli " << command << ": the folder is not known yet\n";
      return kExitFailed;
    case CommandOutcome::kGaveUp:
      context.err << "orlin-cli " << command << ": the engine did not finish in time\n";
      return kExitFailed;
    case CommandOutcome::kFailed:
      return kExitFailed;  // the message has been shown
  }
  return kExitFailed;
}

}  // namespace

int Pause(Context& context) { return SetPaused(context, true, "pause"); }
int Resume(Context& context) { return SetPaused(context, false, "resume"); }

int Refresh(Context& context) {
  context.controller.Refresh();
  context.out << "refreshed\n";
  return kExitOk;
}

int Revert(Context& context) {
  if (NeedsLogin(context, "revert")) return kExitFailed;
  if (!StartWatching(context, "revert")) return kExitFailed;
  return Report(context, context.controller.Revert(), "revert", "reverted");
}

int Override(Context& context) {
  if (NeedsLogin(context, "override")) return kExitFailed;
  if (!StartWatching(context, "override")) return kExitFailed;
  return Report(context, context.controller.Override(), "override", "overridden");
}

}  // namespace orlin::cli
