#include "monitor/events.h"

#include <gtest/gtest.h>

#include <string>

#include "monitor/answer_handlers.h"
#include "monitor/tests/parser_fuzz_fakes.h"

namespace orlin {
namespace {

using testing::Fixture;
using testing::ParserHarness;

constexpr char kFolder[] = "aliceVGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";
constexpr char kPeer[] = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";

std::string DiskEvent(int id, const std::string& type, const std::string& action, const std::string& path) {
  return "{\"id\":" + std::to_string(id) + ",\"globalID\":" + std::to_string(id + 10) +
         ",\"time\":\"2020-03-01T10:11:12.123456+08:00\",\"type\":\"" + type + "\",\"data\":{\"action\":\"" + action +
         "\",\"path\":\"" + path + "\",\"type\":\"file\"}}";
}

std::string CompletionEvent(int id, const std::string& device, const std::string& time, double completion,
                            std::uint64_t needBytes) {
  return "{\"id\":" + std::to_string(id) + ",\"time\":\"" + time +
         "\",\"type\":\"FolderCompletion\",\"data\":{\"completion\":" + std::to_string(completion) +
         ",\"device\":\"" + device + "\",\"folder\":\"f\",\"globalBytes\":1000,\"needBytes\":" +
         std::to_string(needBytes) + ",\"needDeletes\":0,\"needItems\":1}}";
}

FileItemRecord Unsynced(const char* name, const char* status, std::uint64_t size) {
  FileItemRecord row;
  SetField(row.name, name);
  SetField(row.status, status);
  row.size = size;
  return row;
}

TEST(DiskEventsTest, CapturedFeedBecomesSyncEventRowsAndAdvancesTheCursor) {
  ParserHarness h;
  HandleDiskEvents(h.ctx, ParserHarness::Answer(Fixture("events_disk_since0.json")));

  auto rows = h.model.syncEvents.Snapshot();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(FieldText(rows[0].id), "1");
  EXPECT_EQ(FieldText(rows[0].action), "Local modified");
  EXPECT_EQ(FieldText(rows[0].path), "fromA.txt");
  EXPECT_EQ(FieldText(rows[0].time), "2026-12-08  18:23:04");
  EXPECT_EQ(FieldText(rows[1].action), "Remote modified");
  EXPECT_EQ(FieldText(rows[1].path), "fromB.txt");
  EXPECT_EQ(h.model.poll.diskEventsCursor, "3");
  EXPECT_TRUE(h.model.syncEvents.Changed());
  EXPECT_FALSE(h.model.conflicts.Changed());
  EXPECT_EQ(h.LastLog(), "EventDisk 同步事件");
}

TEST(DiskEventsTest, SingleObjectIsWrappedAndOtherTypesGetNoAction) {
  ParserHarness h;
  HandleDiskEvents(h.ctx, ParserHarness::Answer(DiskEvent(41, "ItemFinished", "update", "x/y.txt")));
  auto rows = h.model.syncEvents.Snapshot();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(FieldText(rows[0].action), "");
  EXPECT_EQ(FieldText(rows[0].path), "x/y.txt");
  EXPECT_EQ(FieldText(rows[0].time), "2020-03-01  10:11:12");
  EXPECT_EQ(h.model.poll.diskEventsCursor, "41");
}

TEST(DiskEventsTest, TheThousandAndFirstEventDropsTheOldest) {
  ParserHarness h;
  std::string body = "[";
  for (int id = 1; id <= 1001; ++id) {
    if (id > 1) body += ",";
    body += DiskEvent(id, "LocalChangeDetected", "modified", "file" + std::to_string(id));
  }
  body += "]";
  HandleDiskEvents(h.ctx, ParserHarness::Answer(body));
  auto rows = h.model.syncEvents.Snapshot();
  ASSERT_EQ(rows.size(), 1000u);
  EXPECT_EQ(FieldText(rows.front().id), "2");
  EXPECT_EQ(FieldText(rows.back().id), "1001");

  HandleDiskEvents(h.ctx, ParserHarness::Answer("[" + DiskEvent(1002, "RemoteChangeDetected", "deleted", "z") + "]"));
  rows = h.model.syncEvents.Snapshot();
  ASSERT_EQ(rows.size(), 1000u);
  EXPECT_EQ(FieldText(rows.front().id), "3");
  EXPECT_EQ(FieldText(rows.back().action), "Remote deleted");
  EXPECT_EQ(h.model.poll.diskEventsCursor, "1002");
}

TEST(DiskEventsTest, ConflictCopyListsItsOriginalOnceAndMakesNoSyncEventRow) {
  EXPECT_EQ(ConflictOriginalPath("a/report.sync-conflict-20200301-101112-ABCDEFG.docx"), "a/report.docx");
  EXPECT_EQ(ConflictOriginalPath("v1.2/notes.sync-conflict-20200301-101112-ABCDEFG"),
            "v1.2/notes.sync-conflict-20200301-101112-ABCDEFG");  // no extension: the whole tail stays
  EXPECT_EQ(ConflictOriginalPath("plain.txt"), "plain.txt");

  ParserHarness h;
  const std::string copy = "docs/plan.sync-conflict-20200301-101112-ABCDEFG.txt";
  HandleDiskEvents(h.ctx, ParserHarness::Answer("[" + DiskEvent(1, "RemoteChangeDetected", "modified", copy) + "," +
                                                DiskEvent(2, "LocalChangeDetected", "modified", copy) + "]"));
  HandleDiskEvents(h.ctx, ParserHarness::Answer(DiskEvent(3, "RemoteChangeDetected", "modified", copy)));

  auto conflicts = h.model.conflicts.Snapshot();
  ASSERT_EQ(conflicts.size(), 1u);
  EXPECT_EQ(FieldText(conflicts[0].path), "docs/plan.txt");
  EXPECT_EQ(FieldText(conflicts[0].time), "2020-03-01  10:11:12");
  EXPECT_EQ(conflicts[0].size, 0u);
  EXPECT_TRUE(h.model.conflicts.Changed());
  EXPECT_EQ(h.model.syncEvents.Size(), 0u);
  EXPECT_EQ(h.model.poll.diskEventsCursor, "3");
}

TEST(DiskEventsTest, EveryFileTheRemoteSideChangedJoinsTheLastSyncedFiles) {
  ParserHarness h;
  std::string dir = DiskEvent(4, "RemoteChangeDetected", "modified", "photos");
  dir.replace(dir.find("\"type\":\"file\""), 13, "\"type\":\"dir\"");
  HandleDiskEvents(h.ctx, ParserHarness::Answer("[" + DiskEvent(1, "RemoteChangeDetected", "modified", "a.txt") + "," +
                                                DiskEvent(2, "RemoteChangeDetected", "modified", "b.txt") + "," +
                                                DiskEvent(3, "RemoteChangeDetected", "modified", "sub/c.txt") + "," +
                                                dir + "," + DiskEvent(5, "LocalChangeDetected", "modified", "mine.txt") +
                                                "]"));
  auto rows = h.model.lastSynced.Snapshot();
  std::vector<std::string> names;
  for (const auto& row : rows) names.emplace_back(FieldText(row.name));
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "sub/c.txt"}))
      << "every remote file, no directory and nothing made on this computer";
  EXPECT_EQ(FieldText(rows[0].time), "2020-03-01  10:11:12");
  EXPECT_EQ(FieldText(rows[0].tag), "lastfind") << "sized from the file on disk; the event names no size";
  EXPECT_TRUE(h.model.lastSynced.TakeChanged());

  // The same file again only takes the new time; a conflict copy counts as
  // the file it belongs to.
  std::string later = DiskEvent(6, "RemoteChangeDetected", "modified", "b.txt");
  later.replace(later.find("2020-03-01T10:11:12"), 19, "2020-03-02T08:00:00");
  HandleDiskEvents(h.ctx, ParserHarness::Answer(
                              "[" + later + "," +
                              DiskEvent(7, "RemoteChangeDetected", "modified",
                                        "a.sync-conflict-20200301-101112-ABCDEFG.txt") +
                              "]"));
  rows = h.model.lastSynced.Snapshot();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(FieldText(rows[1].time), "2020-03-02  08:00:00");
  EXPECT_FALSE(h.model.lastSynced.TakeChanged());
}

TEST(DiskEventsTest, AConflictThatLeftTheFullListDoesNotComeBackAsNew) {
  ParserHarness h;
  auto conflictCopy = [](int n) { return "c" + std::to_string(n) + ".sync-conflict-20200301-101112-ABCDEFG.txt"; };
  std::string body = "[";
  for (int n = 0; n < 1001; ++n) {
    if (n > 0) body += ",";
    body += DiskEvent(n + 1, "RemoteChangeDetected", "modified", conflictCopy(n));
  }
  body += "]";
  HandleDiskEvents(h.ctx, ParserHarness::Answer(body));
  ASSERT_EQ(h.model.conflicts.Size(), 1000u);
  EXPECT_EQ(FieldText(h.model.conflicts.Snapshot().front().path), "c1.txt");

  // The engine reports the first copy again (it was touched): it was listed
  // once and stays out, and the list keeps its order.
  h.model.conflicts.ClearChanged();
  HandleDiskEvents(h.ctx, ParserHarness::Answer(DiskEvent(1002, "LocalChangeDetected", "modified", conflictCopy(0))));
  EXPECT_EQ(FieldText(h.model.conflicts.Snapshot().front().path), "c1.txt");
  EXPECT_FALSE(h.model.conflicts.Changed());
  // A conflict never seen is still listed.
  HandleDiskEvents(h.ctx, ParserHarness::Answer(DiskEvent(1003, "RemoteChangeDetected", "modified", conflictCopy(5000))));
  EXPECT_EQ(FieldText(h.model.conflicts.Snapshot().back().path), "c5000.txt");
}

TEST(SeenPaths, TheOldestIsForgottenOnceTheBoundIsReached) {
  BoundedPathSet seen(3);
  EXPECT_TRUE(seen.Insert("a"));
  EXPECT_FALSE(seen.Insert("a"));
  EXPECT_TRUE(seen.Insert("b"));
  EXPECT_TRUE(seen.Insert("c"));
  EXPECT_TRUE(seen.Insert("d"));
  EXPECT_EQ(seen.Size(), 3u);
  EXPECT_FALSE(seen.Contains("a"));
  EXPECT_TRUE(seen.Contains("b"));
  EXPECT_TRUE(seen.Contains("d"));
  EXPECT_GE(kSeenConflictsCapacity, 10 * kListCapacity);
}

TEST(EngineRestart, ANewStartTimeStartsTheDiskFeedOverFromTheBeginning) {
  ParserHarness h;
  auto status = [](const std::string& startTime) {
    return PollAnswer{{}, {}, "{\"sys\":1000,\"cpuPercent\":0,\"startTime\":\"" + startTime + "\"}"};
  };
  HandleDiskEvents(h.ctx, ParserHarness::Answer("[" + DiskEvent(14, "RemoteChangeDetected", "modified", "a") + "]"));
  ASSERT_EQ(h.model.poll.diskEventsCursor, "14");
  h.model.poll.lastGeneralEventId = "300";

  HandleSystemStatus(h.ctx, status("2026-12-08T18:00:00.123456789+01:00"));
  HandleSystemStatus(h.ctx, status("2026-12-08T18:00:00.123456789+01:00"));
  EXPECT_EQ(h.model.poll.diskEventsCursor, "14") << "the same run: nothing to do";
  EXPECT_TRUE(h.requests.submitted.empty());

  // The engine crashed and its monitor started it again: ids begin at 1.
  HandleSystemStatus(h.ctx, status("2026-12-08T18:05:07.000000001+01:00"));
  EXPECT_EQ(h.model.poll.diskEventsCursor, "0");
  EXPECT_EQ(h.model.poll.lastGeneralEventId, "0");
  ASSERT_EQ(h.requests.submitted.size(), 1u);
  EXPECT_EQ(h.requests.submitted[0].url, DiskEventsUrl("0"));
  EXPECT_EQ(h.requests.submitted[0].url, "http://localhost:18384/rest/events/disk?since=0");

  // The new run's events arrive and are listed.
  HandleDiskEvents(h.ctx, ParserHarness::Answer("[" + DiskEvent(1, "RemoteChangeDetected", "modified", "new.txt") + "]"));
  EXPECT_EQ(FieldText(h.model.syncEvents.Snapshot().back().path), "new.txt");
  EXPECT_EQ(h.model.poll.diskEventsCursor, "1");

  // An answer without a start time (an engine going down) changes nothing.
  HandleSystemStatus(h.ctx, PollAnswer{{}, {}, "{\"sys\":1000}"});
  HandleSystemStatus(h.ctx, status("2026-12-08T18:05:07.000000001+01:00"));
  EXPECT_EQ(h.model.poll.diskEventsCursor, "1");
}

TEST(DiskEventsTest, NothingIsProcessedWhilePaused) {
  ParserHarness h;
  h.model.folder.statusCode = SharedFolderState::kPaused;
  HandleDiskEvents(h.ctx, ParserHarness::Answer(Fixture("events_disk_since0.json")));
  EXPECT_EQ(h.model.syncEvents.Size(), 0u);
  EXPECT_EQ(h.model.poll.diskEventsCursor, "0");
  EXPECT_TRUE(h.LogMessages().empty());
}

TEST(DiskEventsTest, EmptyBrokenOrWronglyTypedAnswersChangeNothing) {
  ParserHarness h;
  for (const char* body : {"", "[]", "not json", "[{\"id\":1,", "{\"id\":\"x\""}) {
    HandleDiskEvents(h.ctx, ParserHarness::Answer(body));
    EXPECT_EQ(h.LastLog(), "EventDisk 同步事件 空") << body;
  }
  // Nesting far beyond what the reader accepts is refused, not a crash.
  HandleDiskEvents(h.ctx, ParserHarness::Answer(std::string(100000, '[')));
  EXPECT_EQ(h.LastLog(), "EventDisk 同步事件 空");
  HandleEventStream(h.ctx, ParserHarness::Answer(std::string(100000, '[') + std::string(100000, ']')));
  EXPECT_EQ(h.LastLog(), "EventAPI  空的json");
  HandleFolderCompletionEvents(h.ctx, ParserHarness::Answer(std::string(100000, '[') + std::string(100000, ']')));
  EXPECT_EQ(h.LastLog(), "FolderCompletion 空的json");

  // Parsable but wrongly typed members: rows are built only from usable parts.
  HandleDiskEvents(h.ctx, ParserHarness::Answer(
                              "[1,\"s\",null,{\"id\":-4,\"type\":7,\"data\":\"x\"},{\"id\":2.5,\"data\":{\"path\":[1]}}]"));
  EXPECT_EQ(h.model.poll.diskEventsCursor, "0");  // no usable id
  EXPECT_LE(h.model.syncEvents.Size(), 2u);
  for (const auto& row : h.model.syncEvents.Snapshot()) EXPECT_EQ(FieldText(row.action), "");
}

TEST(DiskEventsTest, LongPathsAreKeptWholeAndInvalidUtf8PathsMakeNoRow) {
  ParserHarness h;
  std::string longPath(300, 'a');
  longPath += "/\xC3\xA9";
  std::string longMultibyte;
  for (int i = 0; i < 200; ++i) longMultibyte += "\xE6\x96\x87";  // 600 bytes of CJK text
  HandleDiskEvents(h.ctx, ParserHarness::Answer("[" + DiskEvent(1, "LocalChangeDetected", "modified", longPath) + "," +
                                                DiskEvent(2, "LocalChangeDetected", "modified", "bad\xFF\xFEname") +
                                                "," + DiskEvent(3, "LocalChangeDetected", "modified", longMultibyte) +
                                                "]"));
  auto rows = h.model.syncEvents.Snapshot();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(FieldText(rows[0].path), longPath);
  EXPECT_EQ(FieldText(rows[1].path), longMultibyte);  // 200 Chinese characters, not the 86 a 260-byte row held
  EXPECT_EQ(h.model.poll.diskEventsCursor, "3");
}

TEST(EventStreamTest, CapturedCompletionEventCreatesAnUnknownDevice) {
  ParserHarness h;
  HandleEventStream(h.ctx, ParserHarness::Answer(Fixture("events_since0_limit1.json")));
  EXPECT_EQ(h.LastLog(), "EventAPI 事件");
  EXPECT_EQ(h.model.poll.lastGeneralEventId, "31");
  auto devices = h.model.devices.Snapshot();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(FieldText(devices[0].deviceId), kPeer);
  EXPECT_EQ(FieldText(devices[0].name), "unknown");
  EXPECT_EQ(FieldText(devices[0].folder), kFolder);
  EXPECT_EQ(FieldText(devices[0].time), "");  // a new record does not keep the event's time
  EXPECT_EQ(devices[0].completion, 100);
  EXPECT_EQ(devices[0].globalBytes, 28u);
  EXPECT_EQ(devices[0].connected, 0);
  EXPECT_TRUE(h.model.devices.Changed());
}

TEST(EventStreamTest, CompletionEventsArrivingOutOfOrderKeepTheNewest) {
  ParserHarness h;
  auto feed = [&](const std::string& event) { HandleEventStream(h.ctx, ParserHarness::Answer(event)); };
  feed(CompletionEvent(1, "DEV", "2020-03-01T10:00:00Z", 10, 900));  // creates the record
  feed(CompletionEvent(3, "DEV", "2020-03-01T10:00:02Z", 80, 200));  // t2
  feed(CompletionEvent(2, "DEV", "2020-03-01T10:00:01Z", 50, 500));  // t1 < t2: ignored
  feed(CompletionEvent(4, "DEV", "2020-03-01T10:00:02Z", 60, 400));  // equal time: ignored
  auto devices = h.model.devices.Snapshot();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].completion, 80);
  EXPECT_EQ(devices[0].needBytes, 200u);
  EXPECT_EQ(FieldText(devices[0].time), "2020-03-01T10:00:02Z");

  // The folder-completion feed applies the same rule.
  HandleFolderCompletionEvents(
      h.ctx, ParserHarness::Answer("[" + CompletionEvent(5, "DEV", "2020-03-01T09:00:00Z", 1, 999) + "," +
                                   CompletionEvent(6, "DEV", "2020-03-01T10:00:03Z", 100, 0) + "]"));
  devices = h.model.devices.Snapshot();
  EXPECT_EQ(devices[0].completion, 100);
  EXPECT_EQ(devices[0].needBytes, 0u);
}

TEST(EventStreamTest, ACompletionEventForADeviceIdThatStartsWithNulAddsNoDevice) {
  // fuzz/corpus/event_stream/nul-device-id.json: the ID would be stored as
  // an empty field, a device row without an ID.
  ParserHarness h;
  HandleEventStream(h.ctx, ParserHarness::Answer(CompletionEvent(1, "\\u0000" + std::string(kPeer), "t", 10, 9)));
  HandleFolderCompletionEvents(
      h.ctx, ParserHarness::Answer("[" + CompletionEvent(2, "\\u0000" + std::string(kPeer), "t", 10, 9) + "]"));
  EXPECT_EQ(h.model.devices.Size(), 0u);
  HandleEventStream(h.ctx, ParserHarness::Answer(CompletionEvent(3, kPeer, "t", 10, 9)));
  EXPECT_EQ(h.model.devices.Size(), 1u);
}

TEST(EventStreamTest, StartLabelsOnlyBeforeTheFolderStateIsKnown) {
  ParserHarness h;
  HandleEventStream(h.ctx, ParserHarness::Answer("{\"id\":1,\"type\":\"Starting\",\"data\":{}}"));
  HandleEventStream(h.ctx, ParserHarness::Answer("[{\"id\":2,\"type\":\"StartupComplete\"}]"));
  h.model.folder.SetFolderStateText("idle");
  HandleEventStream(h.ctx, ParserHarness::Answer("[{\"id\":3,\"type\":\"Starting\"}]"));
  EXPECT_EQ(h.view.labels, (std::vector<std::wstring>{L"Orlin Starting", L"Orlin Started"}));
  EXPECT_EQ(h.model.poll.lastGeneralEventId, "3");
}

TEST(EventStreamTest, ScanProgressSetsTheScanFiguresAndTheFolder) {
  ParserHarness h;
  HandleEventStream(h.ctx, ParserHarness::Answer(
                               "[{\"id\":9,\"type\":\"FolderScanProgress\",\"data\":{\"folder\":\"abc\","
                               "\"current\":2500.7,\"total\":10000,\"rate\":1234.5}}]"));
  EXPECT_EQ(h.model.poll.scanTotal, 10000u);
  EXPECT_EQ(h.model.poll.scanCurrent, 2500u);
  EXPECT_EQ(h.model.poll.scanRate, 1234u);
  EXPECT_EQ(h.model.folder.FolderId(), "abc");
}

TEST(EventStreamTest, DownloadProgressMovesFilesBetweenTheLists) {
  ParserHarness h;
  h.model.folder.SetFolderId("f");
  h.model.unsynced.Replace({Unsynced("queued.bin", "queued", 100), Unsynced("done.bin", "rest", 10),
                            Unsynced("empty.bin", "rest", 0), Unsynced("other.bin", "rest", 5)});
  HandleEventStream(h.ctx, ParserHarness::Answer(
                               "[{\"id\":5,\"time\":\"2021-01-02T03:04:05Z\",\"type\":\"DownloadProgress\",\"data\":{"
                               "\"f\":{\"queued.bin\":{\"bytesDone\":50,\"bytesTotal\":100},"
                               "\"done.bin\":{\"bytesDone\":10,\"bytesTotal\":10},"
                               "\"empty.bin\":{\"bytesDone\":0,\"bytesTotal\":0}},"
                               "\"g\":{\"other.bin\":{\"bytesDone\":5,\"bytesTotal\":5}}}}]"));

  auto unsynced = h.model.unsynced.Snapshot();
  ASSERT_EQ(unsynced.size(), 3u);  // done.bin left
  EXPECT_EQ(FieldText(unsynced[0].name), "queued.bin");  // the higher percent first
  EXPECT_EQ(FieldText(unsynced[0].status), "progress");
  EXPECT_EQ(unsynced[0].percent, 50);
  EXPECT_EQ(FieldText(unsynced[1].name), "empty.bin");  // bytesTotal 0: 0 %, not finished
  EXPECT_EQ(FieldText(unsynced[1].status), "progress");
  EXPECT_EQ(unsynced[1].percent, 0);
  EXPECT_EQ(FieldText(unsynced[2].name), "other.bin");  // another folder's file is untouched
  EXPECT_TRUE(h.model.unsynced.Changed());

  auto transfers = h.model.inProgress.Snapshot();
  ASSERT_EQ(transfers.size(), 2u);
  auto last = h.model.lastSynced.Snapshot();
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(FieldText(last[0].name), "done.bin");
  EXPECT_EQ(FieldText(last[0].time), "2021-01-02  03:04:05");
  EXPECT_EQ(last[0].size, 10u);

  ASSERT_EQ(h.requests.submitted.size(), 1u);
  EXPECT_EQ(h.requests.submitted[0].url, "http://localhost:18384/rest/db/need?folder=f&page=1&perpage=1000");
  EXPECT_EQ(h.model.poll.unsyncedFilesUrl, h.requests.submitted[0].url);

  // The next report with no transfers empties the in-progress list.
  HandleEventStream(h.ctx, ParserHarness::Answer("{\"id\":6,\"type\":\"DownloadProgress\",\"data\":{}}"));
  EXPECT_EQ(h.model.inProgress.Size(), 0u);
}

TEST(EventStreamTest, DownloadProgressStopsTheAnswerWhileTheFolderIsUnknown) {
  ParserHarness h;
  HandleEventStream(h.ctx, ParserHarness::Answer("[{\"id\":1,\"type\":\"DownloadProgress\",\"data\":{}},"
                                                 "{\"id\":2,\"type\":\"Starting\"}]"));
  EXPECT_TRUE(h.view.labels.empty());
  EXPECT_TRUE(h.requests.submitted.empty());
}

TEST(EventStreamTest, PausedEmptyAndWronglyTypedAnswersChangeNothing) {
  ParserHarness h;
  HandleEventStream(h.ctx, ParserHarness::Answer(""));
  EXPECT_TRUE(h.LogMessages().empty());
  for (const char* body : {"nonsense", "[{\"id\":", "{]"}) {
    HandleEventStream(h.ctx, ParserHarness::Answer(body));
    EXPECT_EQ(h.LastLog(), "EventAPI  空的json") << body;
  }
  HandleEventStream(h.ctx, ParserHarness::Answer("[1,[],{\"type\":5},{\"type\":\"FolderCompletion\",\"data\":[]},"
                                                 "{\"type\":\"FolderCompletion\",\"data\":{\"device\":7}},"
                                                 "{\"type\":\"FolderScanProgress\",\"data\":{\"total\":\"x\"}}]"));
  EXPECT_EQ(h.model.devices.Size(), 0u);
  EXPECT_EQ(h.model.poll.scanTotal, 0u);

  h.model.folder.statusCode = SharedFolderState::kPaused;
  HandleEventStream(h.ctx, ParserHarness::Answer(Fixture("events_since0_limit1.json")));
  EXPECT_EQ(h.model.devices.Size(), 0u);
}

TEST(FolderCompletionFeedTest, CapturedFeedsUpdateDevicesAndLog) {
  ParserHarness h;
  HandleFolderCompletionEvents(h.ctx, ParserHarness::Answer(Fixture("events_FolderCompletion_first_call.json")));
  EXPECT_EQ(h.LastLog(), "FolderCompletion  全部文件夹完成状态");
  EXPECT_EQ(h.model.devices.Size(), 0u);
  EXPECT_FALSE(h.model.devices.Changed());

  HandleFolderCompletionEvents(h.ctx, ParserHarness::Answer(Fixture("events_FolderCompletion.json")));
  auto devices = h.model.devices.Snapshot();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(FieldText(devices[0].deviceId), kPeer);
  EXPECT_EQ(devices[0].globalBytes, 28u);
  EXPECT_TRUE(h.model.devices.Changed());

  for (const char* body : {"", "{}", "{\"a\":1}", "[", "12"}) {
    HandleFolderCompletionEvents(h.ctx, ParserHarness::Answer(body));
    EXPECT_EQ(h.LastLog(), "FolderCompletion 空的json") << body;
  }
  EXPECT_EQ(h.model.devices.Size(), 1u);
}

}  // namespace
}  // namespace orlin
