// The folder state rule on its own: one folder status answer and what came
// before it give the state text, the status key, the status code and the
// percent, for every row of the state handler table.

#include "monitor/folder_state.h"

#include <gtest/gtest.h>

#include <vector>

#include <string>

namespace orlin {
namespace {

using Code = SharedFolderState::StatusCode;

FolderStatus Answer(std::string state, std::uint64_t globalBytes = 0, std::uint64_t inSyncBytes = 0) {
  FolderStatus s;
  s.state = std::move(state);
  s.globalBytes = globalBytes;
  s.inSyncBytes = inSyncBytes;
  s.globalFiles = globalBytes == 0 ? 0 : 5;
  s.needFiles = globalBytes == inSyncBytes ? 0 : 1;
  return s;
}

// A folder that was up to date: what a fresh answer is compared with.
FolderProgress UpToDate() {
  FolderProgress before;
  before.percent = 100;
  before.statusCode = Code::kUpToDate;
  before.statusKey = L"Up to date";
  before.progress = 100;
  return before;
}

struct Row {
  const char* what;
  FolderStatus answer;
  FolderProgress before;
  FolderFacts facts;
  std::string stateText;
  std::wstring key;  // what the window shows afterwards
  std::int32_t code;
  std::int32_t progress;
  bool labelSet = true;
};

TEST(FolderStateRule, EveryStateOfTheHandlerTable) {
  FolderFacts sendReceive;
  FolderFacts sendOnly;
  sendOnly.folderType = SharedFolderState::kSendOnly;
  FolderFacts receiveOnly;
  receiveOnly.folderType = SharedFolderState::kReceiveOnly;
  FolderFacts pausing;
  pausing.pauseBeingApplied = true;
  FolderFacts scanQuarter;
  scanQuarter.scanTotal = 200;
  scanQuarter.scanCurrent = 50;
  FolderFacts scanDone;
  scanDone.scanTotal = 200;
  scanDone.scanCurrent = 200;

  FolderProgress syncingAt40 = UpToDate();
  syncingAt40.percent = 40;
  syncingAt40.statusCode = Code::kSyncing;
  syncingAt40.statusKey = L"Syncing_Event";
  syncingAt40.progress = 40;

  FolderStatus outOfSync = Answer("idle", 10, 10);
  outOfSync.needTotalItems = 3;
  FolderStatus watchPaused = Answer("idle");
  watchPaused.watchError = "folder is paused";
  FolderStatus localChanges = Answer("idle");
  localChanges.receiveOnlyTotalItems = 2;
  FolderStatus deletionsLeft = Answer("syncing", 1000, 0);
  deletionsLeft.needDeletes = 5;
  FolderStatus allThere = Answer("syncing");

  const Row rows[] = {
      {"idle and complete", Answer("idle"), UpToDate(), sendReceive, "idle", L"Up to date", Code::kUpToDate, 100},
      {"idle below 100 runs the syncing handler", Answer("idle", 1000, 400), syncingAt40, sendReceive, "idle",
       L"Syncing_Event", Code::kSyncing, 40},
      {"scanning a quarter", Answer("scanning"), UpToDate(), scanQuarter, "scanning", L"Scanning_Event",
       Code::kScanning, 25},
      {"a finished scan shows 99", Answer("scanning"), UpToDate(), scanDone, "scanning", L"Scanning_Event",
       Code::kScanning, 99},
      {"a scan without figures shows 0", Answer("scanning"), UpToDate(), sendReceive, "scanning", L"Scanning_Event",
       Code::kScanning, 0},
      {"scan-waiting keeps label and progress", Answer("scan-waiting"), syncingAt40, sendReceive, "scan-waiting",
       L"Syncing_Event", Code::kScanWaiting, 40, false},
      {"syncing with only deletions left shows 95", deletionsLeft, syncingAt40, sendReceive, "syncing",
       L"Syncing_Event", Code::kSyncing, 95},
      {"syncing with nothing left is up to date", allThere, syncingAt40, sendReceive, "syncing", L"Up to date",
       Code::kUpToDate, 100},
      {"error keeps the code", Answer("error"), syncingAt40, sendReceive, "error", L"Error_Event", Code::kSyncing, 40},
      {"a watch error pauses whatever the state", watchPaused, UpToDate(), sendReceive, "paused", L"Suspended_Event",
       Code::kPaused, 100},
      {"this engine's paused folder has an empty state", Answer(""), UpToDate(), sendReceive, "paused",
       L"Suspended_Event", Code::kPaused, 100},
      {"a pause being applied shows paused at once", Answer("syncing"), UpToDate(), pausing, "paused",
       L"Suspended_Event", Code::kPaused, 100},
      {"idle with items needed is out of sync", outOfSync, UpToDate(), sendOnly, "outofsync", L"Outofsync_Event",
       Code::kOutOfSync, 100},
      {"receive-only with local changes", localChanges, UpToDate(), receiveOnly, "localadditions",
       L"Local_Additions_Event", Code::kUpToDate, 100},
      {"local changes count only for receive-only", localChanges, UpToDate(), sendReceive, "idle", L"Up to date",
       Code::kUpToDate, 100},
      {"a state this client does not know", Answer("cleaning"), UpToDate(), sendReceive, "cleaning",
       L"Unknown_Event", Code::kUpToDate, 100},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const DerivedFolderState derived = DeriveFolderState(row.answer, row.before, row.facts);
    EXPECT_EQ(derived.stateText, row.stateText);
    EXPECT_EQ(derived.after.statusKey, row.key);
    EXPECT_EQ(derived.after.statusCode, row.code);
    EXPECT_EQ(derived.after.progress, row.progress);
    EXPECT_EQ(derived.labelSet, row.labelSet);
  }
}

TEST(FolderStateRule, WhatTheWindowIsAskedForBesidesTheLabel) {
  FolderStatus outOfSync = Answer("idle", 10, 10);
  outOfSync.needTotalItems = 3;
  FolderFacts sendOnly;
  sendOnly.folderType = SharedFolderState::kSendOnly;
  EXPECT_TRUE(DeriveFolderState(outOfSync, UpToDate(), sendOnly).offerOverride);
  EXPECT_FALSE(DeriveFolderState(outOfSync, UpToDate(), FolderFacts{}).offerOverride);

  FolderStatus localChanges = Answer("idle");
  localChanges.receiveOnlyTotalItems = 1;
  FolderFacts receiveOnly;
  receiveOnly.folderType = SharedFolderState::kReceiveOnly;
  EXPECT_TRUE(DeriveFolderState(localChanges, UpToDate(), receiveOnly).showLocalChanges);

  const DerivedFolderState idle = DeriveFolderState(Answer("idle"), UpToDate(), FolderFacts{});
  EXPECT_TRUE(idle.clearUnsynced);
  EXPECT_TRUE(idle.progressSet);
  EXPECT_FALSE(idle.syncReachedEnd);
  EXPECT_TRUE(DeriveFolderState(Answer("syncing"), UpToDate(), FolderFacts{}).syncReachedEnd);
  EXPECT_FALSE(DeriveFolderState(Answer("error"), UpToDate(), FolderFacts{}).progressSet);
}

TEST(FolderStateRule, PercentMovesEveryTenthAnswerAndNeverBackBetweenTwoAndNinetyNine) {
  FolderProgress state;
  auto feed = [&](std::uint64_t inSync) {
    state = DeriveFolderState(Answer("syncing", 1000, inSync), state, FolderFacts{}).after;
  };
  for (std::uint64_t i = 1; i <= 9; ++i) feed(i * 10);
  EXPECT_EQ(state.percent, 0);
  EXPECT_EQ(state.samples.size(), 9u);
  feed(100);
  EXPECT_EQ(state.percent, 10);
  EXPECT_TRUE(state.samples.empty());
  EXPECT_EQ(state.storedMaximum, 100u);
  for (int i = 0; i < 10; ++i) feed(50);
  EXPECT_EQ(state.percent, 10) << "a lower sample does not lower the percent";
  for (int i = 0; i < 10; ++i) feed(420);
  EXPECT_EQ(state.percent, 42);
  EXPECT_EQ(state.statusKey, L"Syncing_Event");
  EXPECT_EQ(state.progress, 42);

  // The engine's figures moving back while the percent is at the edges are
  // taken, so a folder that shrank does not stay at 100.
  FolderProgress full = UpToDate();
  for (int i = 0; i < 10; ++i) full = DeriveFolderState(Answer("syncing", 1000, 300), full, FolderFacts{}).after;
  EXPECT_EQ(full.percent, 30);
}

// Every list of the model rings its bell when marked changed, so a reader
// that sleeps until then misses none; a cleared listener hears nothing more.
TEST(StatusModelBell, EveryListRingsWhenMarkedChanged) {
  StatusModel model;
  int rings = 0;
  std::vector<const void*> what;
  model.changeBell.SetListener([&](const void* list) {
    ++rings;
    what.push_back(list);
  });
  model.syncEvents.MarkChanged();
  model.conflicts.MarkChanged();
  model.devices.MarkChanged();
  model.inProgress.MarkChanged();
  model.unsynced.MarkChanged();
  model.failed.MarkChanged();
  model.locallyChanged.MarkChanged();
  model.lastSynced.MarkChanged();
  EXPECT_EQ(rings, 8);
  EXPECT_EQ(what.front(), &model.syncEvents) << "each ring says which list changed";
  EXPECT_EQ(what.back(), &model.lastSynced);
  EXPECT_TRUE(model.syncEvents.TakeChanged()) << "the flag is still the reader's";
  model.changeBell.SetListener({});
  model.failed.MarkChanged();
  EXPECT_EQ(rings, 8);
}

}  // namespace
}  // namespace orlin
