#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "monitor/answer_handlers.h"
#include "monitor/file_lists.h"
#include "monitor/parse_memo.h"
#include "monitor/tests/parser_fuzz_fakes.h"

namespace orlin {
namespace {

using testing::Fixture;
using testing::ParserHarness;

constexpr char kFolder[] = "aliceVGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";

std::string Status(const std::string& state, std::uint64_t globalBytes, std::uint64_t inSyncBytes,
                   const std::string& extra = "") {
  return "{\"state\":\"" + state + "\",\"globalBytes\":" + std::to_string(globalBytes) +
         ",\"inSyncBytes\":" + std::to_string(inSyncBytes) + ",\"globalFiles\":5,\"needFiles\":1" + extra + "}";
}

struct Folder : ::testing::Test {
  Folder() { h.model.folder.SetFolderId(kFolder); }

  void Feed(const std::string& body) { HandleFolderStatus(h.ctx, ParserHarness::Answer(body)); }
  std::wstring Label() const { return h.view.labels.empty() ? L"" : h.view.labels.back(); }
  std::int32_t Progress() const { return h.view.progress.empty() ? -1 : h.view.progress.back(); }
  std::vector<std::string> Urls() const {
    std::vector<std::string> urls;
    for (const auto& r : h.requests.submitted) urls.push_back(r.url);
    return urls;
  }

  ParserHarness h;
};

TEST_F(Folder, CapturedIdleFolderIsUpToDateOnceTenSamplesAgree) {
  const std::string body = Fixture("db_status.json");
  ASSERT_FALSE(body.empty());
  // The percent only moves every tenth answer: until then the idle folder
  // shows as syncing.
  for (int i = 0; i < 9; ++i) Feed(body);
  EXPECT_EQ(Label(), L"Syncing_Event");
  EXPECT_EQ(h.model.folder.statusCode.load(), SharedFolderState::kSyncing);
  Feed(body);
  EXPECT_EQ(Label(), L"Up to date");
  EXPECT_EQ(Progress(), 100);
  EXPECT_EQ(h.model.folder.statusCode.load(), SharedFolderState::kUpToDate);
  EXPECT_EQ(h.model.folder.FolderStateText(), "idle");
  EXPECT_EQ(h.LogMessages().back(), "StatusFolder  本地文件夹完成状态");
  // Totals, and the messages after every answer.
  const SystemSummary summary = h.model.Summary();
  EXPECT_EQ(summary.fileCountText, L"2");
  EXPECT_EQ(summary.folderCountText, L"0");
  EXPECT_EQ(h.window.Count(kMsgTotalsChanged), 10);
  EXPECT_GE(h.window.Count(kMsgUnsyncedChanged), 10);
}

TEST_F(Folder, UnsyncedTabCountFollowsNeedFiles) {
  Feed(Status("syncing", 1000, 10, ",\"needFiles\":7"));
  EXPECT_EQ(h.model.folder.unsyncedFileCount.load(), 7u);
  Feed(Status("idle", 1000, 1000, ",\"needFiles\":0"));
  EXPECT_EQ(h.model.folder.unsyncedFileCount.load(), 0u);
}

TEST_F(Folder, NoGlobalBytesMeansComplete) {
  Feed(Status("idle", 0, 0));
  EXPECT_EQ(h.model.folder.folderPercent.load(), 100);
  EXPECT_EQ(Label(), L"Up to date");
}

TEST_F(Folder, PercentSamplingMovesEveryTenthAnswerAndNotBackwards) {
  for (int i = 1; i <= 10; ++i) Feed(Status("syncing", 1000, i * 10u));
  EXPECT_EQ(h.model.folder.folderPercent.load(), 10);
  for (int i = 0; i < 10; ++i) Feed(Status("syncing", 1000, 50));
  EXPECT_EQ(h.model.folder.folderPercent.load(), 10) << "a lower sample does not lower the percent";
  for (int i = 0; i < 10; ++i) Feed(Status("syncing", 1000, 420));
  EXPECT_EQ(h.model.folder.folderPercent.load(), 42);
  EXPECT_EQ(Label(), L"Syncing_Event");
  EXPECT_EQ(Progress(), 42);
  EXPECT_EQ(h.model.folder.statusCode.load(), SharedFolderState::kSyncing);
}

TEST_F(Folder, SyncingOnlyDeletionsShowsNinetyFive) {
  Feed(Status("syncing", 1000, 0, ",\"needBytes\":0,\"needDeletes\":5"));
  EXPECT_EQ(h.model.folder.folderPercent.load(), 95);
  EXPECT_EQ(Progress(), 95);
}

TEST_F(Folder, IdleWithItemsNeededIsOutOfSyncAndOffersOverrideWhenSendOnly) {
  h.model.folder.folderType.store(SharedFolderState::kSendOnly);
  Feed(Fixture("so_A_db_status_outofsync.json"));
  EXPECT_EQ(Label(), L"Outofsync_Event");
  EXPECT_EQ(h.model.folder.statusCode.load(), SharedFolderState::kOutOfSync);
  EXPECT_EQ(h.model.folder.FolderStateText(), "outofsync");
  ASSERT_EQ(h.window.Count(kMsgOverrideAvailable), 1);
  for (const auto& m : h.window.messages) {
    if (m.id == kMsgOverrideAvailable) {
      EXPECT_TRUE(m.sent);
      EXPECT_EQ(m.wParam, 1u);
    }
  }
  // The unsynced files are asked for, page size 1000.
  EXPECT_EQ(h.model.poll.unsyncedFilesUrl,
            std::string("http://localhost:18384/rest/db/need?folder=") + kFolder + "&page=1&perpage=1000");
  EXPECT_EQ(Urls().front(), h.model.poll.unsyncedFilesUrl);

  // A send-and-receive folder is out of sync too, but offers nothing.
  ParserHarness other;
  other.model.folder.SetFolderId(kFolder);
  HandleFolderStatus(other.ctx, ParserHarness::Answer(Status("idle", 10, 10, ",\"needTotalItems\":3")));
  EXPECT_EQ(other.view.labels.back(), L"Outofsync_Event");
  EXPECT_EQ(other.window.Count(kMsgOverrideAvailable), 0);
}

TEST_F(Folder, ReceiveOnlyLocalChangesShowTheCountAndAskForTheList) {
  h.model.folder.folderType.store(SharedFolderState::kReceiveOnly);
  Feed(Fixture("ro_A_db_status_localchanges.json"));
  EXPECT_EQ(Label(), L"Local_Additions_Event");
  EXPECT_EQ(h.model.folder.lastRequestedChangeCount.load(), 2u);
  bool sentCount = false;
  for (const auto& m : h.window.messages) {
    if (m.id == kMsgLocalChangesCount) sentCount = m.sent && m.wParam == 2;
  }
  EXPECT_TRUE(sentCount);
  EXPECT_EQ(LocallyChangedUrl(h.model),
            std::string("http://localhost:18384/rest/db/localchanged?folder=") + kFolder + "&page=1&perpage=2");
  const auto urls = Urls();
  EXPECT_NE(std::find(urls.begin(), urls.end(), LocallyChangedUrl(h.model)), urls.end());

  HandleLocallyChanged(h.ctx, ParserHarness::Answer(Fixture("ro_A_db_localchanged.json")));
  auto rows = h.model.locallyChanged.Snapshot();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(FieldText(rows[0].path), "local.txt");
  EXPECT_EQ(FieldText(rows[0].time), "2026-12-08  18:26:38");
  EXPECT_EQ(rows[0].size, 15u);
  EXPECT_TRUE(h.model.locallyChanged.TakeChanged());

  // An empty list keeps the rows; garbage too, with its log line.
  HandleLocallyChanged(h.ctx, ParserHarness::Answer(Fixture("db_localchanged.json")));
  EXPECT_EQ(h.model.locallyChanged.Size(), 2u);
  EXPECT_EQ(h.LastLog(), "本地改变项");
  HandleLocallyChanged(h.ctx, ParserHarness::Answer("{\"files\":"));
  EXPECT_EQ(h.model.locallyChanged.Size(), 2u);
  EXPECT_EQ(h.LastLog(), "本地改变项 空的json");

  // Once reverted, the count the revert waits on is 0.
  Feed(Status("idle", 14, 14, ",\"receiveOnlyTotalItems\":0"));
  EXPECT_EQ(h.model.folder.lastRequestedChangeCount.load(), 0u);
}

TEST_F(Folder, PausedByWatchErrorOrByAPendingPause) {
  Feed(Status("idle", 10, 10, ",\"watchError\":\"folder is paused\""));
  EXPECT_EQ(Label(), L"Suspended_Event");
  EXPECT_EQ(h.model.folder.statusCode.load(), SharedFolderState::kPaused);
  // The engine's own answer for a paused folder has an empty state.
  Feed(Status("idle", 10, 10));
  EXPECT_NE(Label(), L"Suspended_Event");
  Feed(Fixture("db_status_paused.json"));
  EXPECT_EQ(Label(), L"Suspended_Event");
  EXPECT_EQ(h.model.folder.FolderStateText(), "paused");

  // A settings pause: when the engine reports the folder paused, the toolbar
  // comes back once.
  h.model.folder.pauseParameter.store(8);
  h.model.folder.lastConfigKind.store(kKindPause);
  Feed(Status("idle", 10, 10));
  Feed(Status("idle", 10, 10));
  EXPECT_EQ(h.model.folder.pauseParameter.load(), 9);
  int unlocks = 0;
  for (const auto& m : h.window.messages) unlocks += (m.id == kMsgToolbarLock && m.wParam == 1 && !m.sent) ? 1 : 0;
  EXPECT_EQ(unlocks, 1);
  EXPECT_EQ(Label(), L"Suspended_Event");
}

TEST_F(Folder, StateLabelsAndScanProgress) {
  h.model.poll.scanTotal = 200;
  h.model.poll.scanCurrent = 200;
  Feed(Status("scanning", 10, 10));
  EXPECT_EQ(Label(), L"Scanning_Event");
  EXPECT_EQ(Progress(), 99) << "a finished scan shows 99";
  EXPECT_EQ(h.model.folder.statusCode.load(), SharedFolderState::kScanning);
  h.model.poll.scanTotal = 0;
  Feed(Status("scanning", 10, 10));
  EXPECT_EQ(Progress(), 0);

  const std::size_t labelsBefore = h.view.labels.size();
  Feed(Status("scan-waiting", 10, 10));
  EXPECT_EQ(h.view.labels.size(), labelsBefore) << "scan-waiting keeps the label";
  EXPECT_EQ(h.model.folder.statusCode.load(), SharedFolderState::kScanWaiting);

  Feed(Status("error", 10, 10));
  EXPECT_EQ(Label(), L"Error_Event");
  Feed(Status("cleaning", 10, 10));
  EXPECT_EQ(Label(), L"Unknown_Event");
}

TEST_F(Folder, FailedFilesAreRequestedWhenTheCountMovesAndReadAgainWhileNone) {
  Feed(Status("idle", 10, 10, ",\"pullErrors\":2"));
  const std::string url2 = std::string("http://localhost:18384/rest/folder/errors?folder=") + kFolder +
                           "&page=1&perpage=2";
  EXPECT_EQ(FailedFilesUrl(h.model), url2);
  auto urls = Urls();
  EXPECT_EQ(std::count(urls.begin(), urls.end(), url2), 1);
  bool posted = false;
  for (const auto& m : h.window.messages) posted = posted || (m.id == kMsgFailedCount && m.wParam == 2 && !m.sent);
  EXPECT_TRUE(posted);

  HandleFailedFiles(h.ctx, ParserHarness::Answer(
                               R"({"errors":[{"path":"a.txt","error":"pulling: permission denied"},)"
                               R"({"path":"b.txt","error":"12345678"}],"page":1,"perpage":2})"));
  auto rows = h.model.failed.Snapshot();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(FieldText(rows[0].error), " permission denied");
  EXPECT_EQ(FieldText(rows[1].error), "");
  EXPECT_EQ(h.LastLog(), "获取错误项");

  // Errors gone: the list is read with page size 0 after every answer and
  // the captured "errors": null empties it.
  h.requests.submitted.clear();
  Feed(Status("idle", 10, 10, ",\"pullErrors\":0"));
  Feed(Status("idle", 10, 10, ",\"pullErrors\":0"));
  const std::string url0 = std::string("http://localhost:18384/rest/folder/errors?folder=") + kFolder +
                           "&page=1&perpage=0";
  urls = Urls();
  EXPECT_EQ(std::count(urls.begin(), urls.end(), url0), 3);
  HandleFailedFiles(h.ctx, ParserHarness::Answer(Fixture("folder_errors.json")));
  EXPECT_EQ(h.model.failed.Size(), 0u);
  HandleFailedFiles(h.ctx, ParserHarness::Answer(""));
  EXPECT_EQ(h.LastLog(), "获取错误项空的json");
}

FileItemRecord Transfer(const std::string& name, std::int32_t percent) {
  FileItemRecord row;
  SetField(row.name, name);
  SetField(row.status, "progress");
  SetField(row.time, "2026-12-08  10:00:00");
  row.percent = percent;
  return row;
}

TEST_F(Folder, UnsyncedFilesGroupsInOrderWithoutDirectoriesOrFilesInTransfer) {
  h.model.inProgress.Replace({Transfer("big.iso", 40), Transfer("queued-but-moving.txt", 10)});
  HandleUnsyncedFiles(h.ctx, ParserHarness::Answer(R"({
      "progress":[{"name":"a.bin","type":"FILE_INFO_TYPE_FILE","size":5},
                  {"name":"big.iso","type":"FILE_INFO_TYPE_FILE","size":900}],
      "queued":[{"name":"queued-but-moving.txt","type":"FILE_INFO_TYPE_FILE","size":3},
                {"name":"dir","type":"FILE_INFO_TYPE_DIRECTORY","size":128},
                {"name":"q.txt","type":"FILE_INFO_TYPE_FILE","size":1}],
      "rest":[{"type":"FILE_INFO_TYPE_FILE","size":1},{"name":"r.txt","type":"DIRECTORY"},
              {"name":"s.txt","type":"FILE_INFO_TYPE_FILE","size":2}]})"));
  const auto rows = h.model.unsynced.Snapshot();
  std::vector<std::string> names;
  for (const auto& r : rows) names.emplace_back(FieldText(r.name));
  EXPECT_EQ(names, (std::vector<std::string>{"big.iso", "a.bin", "q.txt", "s.txt"}));
  EXPECT_EQ(rows[0].percent, 40) << "the transfer's percent is taken";
  EXPECT_EQ(FieldText(rows[0].time), "2026-12-08  10:00:00");
  EXPECT_EQ(FieldText(rows[2].status), "queued");
  EXPECT_EQ(rows[3].size, 2u);
  EXPECT_TRUE(h.model.unsynced.TakeChanged());

  // No progress group: the transfers in flight stand in for it.
  HandleUnsyncedFiles(h.ctx, ParserHarness::Answer(Fixture("so_A_db_need.json")));
  names.clear();
  for (const auto& r : h.model.unsynced.Snapshot()) names.emplace_back(FieldText(r.name));
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "big.iso");
  EXPECT_EQ(names[1], "queued-but-moving.txt");
  EXPECT_EQ(names[2], "s1.txt");

  HandleUnsyncedFiles(h.ctx, ParserHarness::Answer("{}"));
  const auto logs = h.LogMessages();
  EXPECT_EQ(logs.back(), "DBNeed Rest 空的json");
}

TEST(UnsyncedOrder, ProgressByPercentThenNameAfterBackslashThenSize) {
  FileItemRecord a = Transfer("x\\b.txt", 50), b = Transfer("a.txt", 50), c = Transfer("z.txt", 70);
  EXPECT_TRUE(UnsyncedRowBefore(c, a));
  EXPECT_TRUE(UnsyncedRowBefore(b, a)) << "a.txt before b.txt whatever the directory";
  FileItemRecord small = Transfer("same", 1), large = Transfer("same", 1);
  small.size = 1;
  large.size = 2;
  EXPECT_TRUE(UnsyncedRowBefore(small, large));
  EXPECT_FALSE(UnsyncedRowBefore(large, small));
  FileItemRecord queued;
  SetField(queued.status, "queued");
  EXPECT_TRUE(UnsyncedRowBefore(a, queued));
  EXPECT_FALSE(UnsyncedRowBefore(queued, queued));
}

TEST_F(Folder, StatisticsFillLastSyncedAndDiscoverTheFolder) {
  ParserHarness fresh;
  HandleFolderStatistics(fresh.ctx, ParserHarness::Answer(Fixture("stats_folder.json")));
  EXPECT_EQ(fresh.model.folder.FolderId(), kFolder);
  ASSERT_EQ(fresh.requests.submitted.size(), 1u);
  EXPECT_EQ(fresh.requests.submitted[0].url, std::string("http://localhost:18384/rest/db/status?folder=") + kFolder);
  auto rows = fresh.model.lastSynced.Snapshot();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(FieldText(rows[0].name), "fromB.txt");
  EXPECT_EQ(FieldText(rows[0].tag), "lastfind");
  EXPECT_EQ(FieldText(rows[0].time), "2026-12-08  18:23:04");
  // The same answer again: known folder, known file, nothing new.
  HandleFolderStatistics(fresh.ctx, ParserHarness::Answer(Fixture("stats_folder.json")));
  EXPECT_EQ(fresh.requests.submitted.size(), 1u);
  EXPECT_EQ(fresh.model.lastSynced.Size(), 1u);

  // The engine's "never" adds no row.
  HandleFolderStatistics(fresh.ctx, ParserHarness::Answer(
      std::string("{\"") + kFolder + R"(":{"lastFile":{"at":"0001-01-01T00:00:00Z","filename":"x"}}})"));
  EXPECT_EQ(fresh.model.lastSynced.Size(), 1u);
  HandleFolderStatistics(fresh.ctx, ParserHarness::Answer("[]"));
  EXPECT_EQ(fresh.LastLog(), "StatsFolder 空的json");
}

// An idle engine repeats most answers word for word: the parse is kept and
// reused, but every answer is still handled as if parsed afresh (its log
// line, and what it changes in a model that moved meanwhile).
TEST_F(Folder, RepeatedAnswersReuseTheirParseAndAreStillHandledEachTime) {
  ParserHarness h;
  const std::string stats = Fixture("stats_folder.json");
  HandleFolderStatistics(h.ctx, ParserHarness::Answer(stats));
  HandleFolderStatistics(h.ctx, ParserHarness::Answer(stats));
  ASSERT_TRUE(h.ctx.parseMemos);
  EXPECT_EQ(h.ctx.parseMemos->folderStatistics.Parses(), 1u);
  EXPECT_EQ(h.requests.submitted.size(), 1u);
  // Another folder became current meanwhile: the same answer still names
  // this one, as a fresh parse would.
  h.model.folder.SetFolderId("other");
  HandleFolderStatistics(h.ctx, ParserHarness::Answer(stats));
  EXPECT_EQ(h.model.folder.FolderId(), kFolder);
  EXPECT_EQ(h.requests.submitted.size(), 2u);
  const auto lines = h.LogMessages();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "StatsFolder  最后发现"), 3);
  // A different answer is parsed; a broken one after it is not taken for
  // the one before.
  HandleFolderStatistics(h.ctx, ParserHarness::Answer("{\"f2\":{\"lastFile\":{\"at\":\"2026-12-08T18:24:05Z\","
                                                       "\"filename\":\"new.txt\"}}}"));
  EXPECT_EQ(h.model.folder.FolderId(), "f2");
  HandleFolderStatistics(h.ctx, ParserHarness::Answer("{\"f2\":"));
  EXPECT_EQ(h.LastLog(), "StatsFolder 空的json");
  EXPECT_EQ(h.ctx.parseMemos->folderStatistics.Parses(), 3u);

  // The same for the event stream, the completion events, the version and
  // the discovery.
  const std::string events = Fixture("events_since0_limit1.json");
  for (int i = 0; i < 3; ++i) {
    HandleEventStream(h.ctx, ParserHarness::Answer(events));
    HandleFolderCompletionEvents(h.ctx, ParserHarness::Answer("[]"));
    HandleSystemVersion(h.ctx, ParserHarness::Answer(R"({"version":"v1.19.2","os":"linux","arch":"amd64"})"));
    HandleDiscovery(h.ctx, ParserHarness::Answer("{}"));
  }
  EXPECT_EQ(h.ctx.parseMemos->eventStream.Parses(), 1u);
  EXPECT_EQ(h.ctx.parseMemos->folderCompletionEvents.Parses(), 1u);
  EXPECT_EQ(h.ctx.parseMemos->systemVersion.Parses(), 1u);
  EXPECT_EQ(h.ctx.parseMemos->discovery.Parses(), 1u);
  EXPECT_FALSE(h.model.poll.lastGeneralEventId.empty());
  h.model.poll.lastGeneralEventId.clear();
  HandleEventStream(h.ctx, ParserHarness::Answer(events));
  EXPECT_FALSE(h.model.poll.lastGeneralEventId.empty()) << "a repeated answer is handled again";
  HandleSystemVersion(h.ctx, ParserHarness::Answer(R"({"os":"linux"})"));
  EXPECT_EQ(h.LastLog(), "SystemVersion 空json");
  HandleDiscovery(h.ctx, ParserHarness::Answer(""));
  EXPECT_EQ(h.LastLog(), "SystemDiscovery 空的json");
}

TEST(LastSynced, ConflictCopiesJoinTheirFileAndTheListKeepsAThousand) {
  StatusModel model;
  for (int i = 0; i < 1001; ++i) {
    FileItemRecord row;
    SetField(row.name, "f" + std::to_string(i));
    InsertLastSynced(model, row);
  }
  auto rows = model.lastSynced.Snapshot();
  ASSERT_EQ(rows.size(), 1000u);
  EXPECT_EQ(FieldText(rows.front().name), "f1");

  FileItemRecord again;
  SetField(again.name, "f500");
  SetField(again.time, "later");
  InsertLastSynced(model, again);
  rows = model.lastSynced.Snapshot();
  EXPECT_EQ(rows.size(), 1000u);
  EXPECT_EQ(FieldText(rows[499].time), "later");

  FileItemRecord conflict;
  SetField(conflict.name, "docs/report.sync-conflict-20200301-101112-ABCDEFG.docx");
  InsertLastSynced(model, conflict);
  EXPECT_EQ(FieldText(model.lastSynced.Snapshot().back().name), "docs/report.docx");
}

TEST(FolderFromConfig, EveryFolderStartsItsStatusAndParameterFourResumes) {
  ParserHarness h;
  PollAnswer answer = ParserHarness::Answer(Fixture("system_config.json"));
  answer.request.kind = kKindFolderDiscovery;
  answer.request.parameter = 4;
  HandleFolderFromConfig(h.ctx, answer);
  EXPECT_EQ(h.model.folder.FolderId(), kFolder);
  ASSERT_EQ(h.requests.submitted.size(), 2u);
  EXPECT_EQ(h.requests.submitted[0].url, std::string("http://localhost:18384/rest/db/status?folder=") + kFolder);
  EXPECT_EQ(h.requests.submitted[1].url, "http://localhost:18384/rest/system/config");
  EXPECT_EQ(h.requests.submitted[1].kind, kKindResume);
  EXPECT_EQ(h.LastLog(), "GetSyncFolder 获取同步文件夹ID");

  HandleFolderFromConfig(h.ctx, ParserHarness::Answer("not json"));
  EXPECT_EQ(h.LastLog(), "GetSyncFolder 空的json");
}

TEST_F(Folder, BadStatusAnswersChangeNothing) {
  for (const std::string bad : {"", "{", "[1,2]", "\"idle\"", "{\"state\":", "null"}) {
    Feed(bad);
  }
  EXPECT_TRUE(h.view.labels.empty());
  EXPECT_TRUE(h.requests.submitted.empty());
  EXPECT_TRUE(h.window.messages.empty());
  // Wrong types read as 0 or empty.
  Feed(R"({"state":"odd","globalBytes":"many","inSyncBytes":-5,"needTotalItems":1.5})");
  EXPECT_EQ(Label(), L"Unknown_Event");
  EXPECT_EQ(h.model.folder.folderPercent.load(), 100);
}

}  // namespace
}  // namespace orlin
