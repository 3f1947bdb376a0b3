#include "monitor/folder_state.h"

#include <algorithm>
#include <cmath>

#include "monitor/format.h"

namespace orlin {
namespace {

constexpr std::size_t kPercentSampleCount = 10;

std::int32_t NextPercent(FolderProgress& f, const FolderStatus& s) {
  if (s.globalBytes == 0) return 100;
  std::int32_t percent = f.percent;
  f.samples.push_back(s.inSyncBytes);
  if (f.samples.size() >= kPercentSampleCount) {
    const std::uint64_t largest = *std::max_element(f.samples.begin(), f.samples.end());
    if (percent < 2 || percent > 99 || largest > f.storedMaximum) f.storedMaximum = largest;
    const double exact = std::floor(static_cast<double>(f.storedMaximum) * 100.0 / static_cast<double>(s.globalBytes));
    percent = exact > 100.0 ? 101 : static_cast<std::int32_t>(exact);
    f.samples.clear();
  }
  if (percent > 100 || percent < 0) percent = 0;
  if (s.globalFiles == 0 && s.needFiles == 0) percent = 100;
  return percent;
}

void Label(DerivedFolderState& out, const wchar_t* key) {
  out.after.statusKey = key;
  out.labelSet = true;
}

void Progress(DerivedFolderState& out, std::int32_t value) {
  out.after.progress = value;
  out.progressSet = true;
}

void Syncing(DerivedFolderState& out, const FolderStatus& s) {
  FolderProgress& f = out.after;
  // Only deletions are left: nearly done, though no byte moves any more.
  if (s.needBytes == 0 && s.needDeletes != 0) f.percent = 95;
  f.statusCode = SharedFolderState::kSyncing;
  std::int32_t shown = f.percent;
  if (s.globalBytes != 0 && s.globalBytes != f.storedMaximum) {
    Label(out, L"Syncing_Event");
    if (shown == 100) shown = 99;
  } else if (f.percent == 100) {
    Label(out, L"Up to date");
    f.statusCode = SharedFolderState::kUpToDate;
  } else {
    Label(out, L"Syncing_Event");
  }
  Progress(out, shown);
  out.syncReachedEnd = shown == 100;
}

void RunStateHandler(DerivedFolderState& out, const FolderStatus& s, const FolderFacts& facts) {
  FolderProgress& f = out.after;
  const std::string& state = out.stateText;
  if (state == "idle") {
    if (f.percent != 100) {
      Syncing(out, s);
      return;
    }
    f.storedMaximum = 0;
    Label(out, L"Up to date");
    Progress(out, 100);
    f.statusCode = SharedFolderState::kUpToDate;
    out.clearUnsynced = true;
  } else if (state == "scanning") {
    f.storedMaximum = 0;
    Label(out, L"Scanning_Event");
    f.statusCode = SharedFolderState::kScanning;
    std::int32_t progress = facts.scanTotal == 0 ? 0 : PercentOf(facts.scanCurrent, facts.scanTotal);
    if (progress >= 100) progress = 99;
    Progress(out, progress);
  } else if (state == "scan-waiting") {
    f.statusCode = SharedFolderState::kScanWaiting;
  } else if (state == "syncing") {
    Syncing(out, s);
  } else if (state == "error") {
    Label(out, L"Error_Event");
  } else if (state == "paused") {
    // Also when another front-end paused the folder: the commands test the
    // code before they resume.
    f.statusCode = SharedFolderState::kPaused;
    Label(out, L"Suspended_Event");
  } else if (state == "outofsync") {
    Label(out, L"Outofsync_Event");
    f.statusCode = SharedFolderState::kOutOfSync;
    out.offerOverride = facts.folderType == SharedFolderState::kSendOnly;
  } else if (state == "localadditions") {
    Label(out, L"Local_Additions_Event");
    out.showLocalChanges = true;
  } else {
    Label(out, L"Unknown_Event");
  }
}

}  // namespace

DerivedFolderState DeriveFolderState(const FolderStatus& s, const FolderProgress& before, const FolderFacts& facts) {
  DerivedFolderState out;
  out.after = before;
  std::string state = s.state;
  if (facts.folderType == SharedFolderState::kReceiveOnly && s.receiveOnlyTotalItems > 0) state = "localadditions";
  // This engine reports a paused folder with an empty state and no watch
  // error at all; an empty state is nothing else.
  if (s.watchError == "folder is paused" || state.empty()) state = "paused";
  out.after.percent = NextPercent(out.after, s);
  // The engine never says "outofsync": a send-only folder that differs from
  // its peers is idle with items still needed.
  if (state == "idle" && s.needTotalItems > 0) state = "outofsync";
  if (facts.pauseBeingApplied) state = "paused";
  out.stateText = std::move(state);
  RunStateHandler(out, s, facts);
  return out;
}

}  // namespace orlin
