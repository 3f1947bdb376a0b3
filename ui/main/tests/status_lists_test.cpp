// The status lists on the product's skin: what each list shows for the
// model's rows, when it is refilled, the tab switching, the counts on the
// tab buttons, the local changes mode, the log tab, the device buttons and
// the conflict double-click.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/system_info.h"
#include "ui/main/tests/lists_test_window.h"

namespace orlin::testing {
namespace {

using ::testing::ElementsAre;

constexpr wchar_t kEvents[] = L"SYNCEVENTSLIST";

// 200 Chinese characters: 600 bytes of UTF-8, far beyond the 260-byte rows
// that once cut such a path at 86 characters.
std::string LongChinesePath() {
  std::string dir;
  for (int i = 0; i < 190; ++i) dir += "\xE6\x96\x87";  // 文
  return dir + "/\xE6\x8A\xA5\xE5\x91\x8A\xE4\xB9\xA6.docx";  // 报告书.docx
}

TEST_F(ListsTest, SyncEventsShowNewestFirstWithActionTextsWholePathsAndSizesFromDisk) {
  std::filesystem::create_directories(folder.path() / "docs" / "sub");
  std::ofstream(folder.path() / "docs" / "a.txt", std::ios::binary) << std::string(1536, 'x');
  const std::string chinese = LongChinesePath();
  controller.model.syncEvents.AppendCapped(Event("Local modified", "docs/a.txt", "2020-03-01  10:11:12"));
  controller.model.syncEvents.AppendCapped(Event("Remote deleted", "gone.txt", "2020-03-01  10:11:13"));
  controller.model.syncEvents.AppendCapped(Event("Local added", "bad\xFF\xFEname", "2020-03-01  10:11:14"));
  controller.model.syncEvents.AppendCapped(Event("Local added dir", "docs/sub", "2020-03-01  10:11:15"));
  controller.model.syncEvents.AppendCapped(Event("Remote added", chinese, "2020-03-01  10:11:16"));
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();

  // The path that is not UTF-8 gets no row and is not counted.
  ASSERT_EQ(window.Rows(kEvents), 4);
  EXPECT_EQ(window.Cell(kEvents, 0, L"NOLABEL"), L"4");
  EXPECT_EQ(window.Cell(kEvents, 3, L"NOLABEL"), L"1");
  EXPECT_EQ(window.Cell(kEvents, 0, L"ACTIONLABEL"), L"Remote added");
  EXPECT_EQ(window.Cell(kEvents, 0, L"FILELABEL"), L"\u62a5\u544a\u4e66.docx");
  const std::wstring whole = Utf8ToWide(chinese);
  ASSERT_EQ(whole.size(), 199u);
  EXPECT_EQ(window.CellControl(kEvents, 0, L"FILELABEL")->GetToolTip(), whole);
  EXPECT_EQ(window.Cell(kEvents, 0, L"SIZELABEL"), L"-");  // not on disk
  EXPECT_EQ(window.Cell(kEvents, 1, L"FILELABEL"), L"sub");
  EXPECT_EQ(window.Cell(kEvents, 1, L"SIZELABEL"), L"folder");
  EXPECT_EQ(window.Cell(kEvents, 2, L"ACTIONLABEL"), L"Remote deleted");
  EXPECT_EQ(window.Cell(kEvents, 3, L"WHENLABEL"), L"2020-03-01  10:11:12");
  EXPECT_EQ(window.Cell(kEvents, 3, L"SIZELABEL"), L"1.50 KiB");
  EXPECT_EQ(window.CellControl(kEvents, 3, L"FILELABEL")->GetToolTip(), L"docs/a.txt");
  // A path's tooltip never wraps: the widest tip fits.
  EXPECT_GE(window.GetPaintManager().GetTooltipMaxWidth(),
            window.GetPaintManager().MeasureText(whole, -1, dui::kDtSingleLine).cx);

  window.SwitchLanguage(L"zh_cn");
  EXPECT_EQ(window.Cell(kEvents, 0, L"ACTIONLABEL"), L"\u8fdc\u7a0b\u589e\u52a0");  // 远程增加
  EXPECT_EQ(window.Cell(kEvents, 1, L"SIZELABEL"), L"\u6587\u4ef6\u5939");           // 文件夹
  window.SwitchLanguage(L"en");
  EXPECT_EQ(window.Cell(kEvents, 0, L"ACTIONLABEL"), L"Remote added");
}

TEST_F(ListsTest, AListIsRefilledOnlyWhenItsFlagIsSetAndReusesItsRows) {
  for (int i = 0; i < 5; ++i) {
    controller.model.syncEvents.AppendCapped(Event("Local added", "f" + std::to_string(i), "t"));
  }
  lists().DataPass();
  EXPECT_EQ(window.Rows(kEvents), 0) << "no flag, no refill";

  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  ASSERT_EQ(window.Rows(kEvents), 5);
  EXPECT_FALSE(controller.model.syncEvents.Changed()) << "the refresher clears the flag";
  dui::CControlUI* firstRow = window.List(kEvents)->GetItemAt(0);

  controller.model.syncEvents.Replace({Event("Local added", "x", "t"), Event("Local added", "y", "t")});
  lists().DataPass();
  EXPECT_EQ(window.Rows(kEvents), 5) << "changed rows, but no flag yet";

  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  ASSERT_EQ(window.Rows(kEvents), 2);
  EXPECT_EQ(window.List(kEvents)->GetItemAt(0), firstRow) << "rows are reused, not rebuilt";
  EXPECT_EQ(window.Cell(kEvents, 0, L"FILELABEL"), L"y");
  EXPECT_EQ(window.Cell(kEvents, 1, L"FILELABEL"), L"x");
  EXPECT_EQ(window.Cell(kEvents, 0, L"NOLABEL"), L"2");
}

TEST_F(ListsTest, AThousandRowListRefillsWithTheNewestEventOnTop) {
  for (int i = 0; i < 1000; ++i) {
    controller.model.syncEvents.AppendCapped(Event("Remote modified", "dir/file" + std::to_string(i), "t"));
  }
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  ASSERT_EQ(window.Rows(kEvents), 1000);
  std::vector<dui::CControlUI*> rows;
  for (int i = 0; i < 1000; ++i) rows.push_back(window.List(kEvents)->GetItemAt(i));

  controller.model.syncEvents.AppendCapped(Event("Local deleted", "dir/file1000", "t"));
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  ASSERT_EQ(window.Rows(kEvents), 1000);
  EXPECT_EQ(window.Cell(kEvents, 0, L"FILELABEL"), L"file1000");
  EXPECT_EQ(window.Cell(kEvents, 0, L"ACTIONLABEL"), L"Local deleted");
  EXPECT_EQ(window.Cell(kEvents, 999, L"FILELABEL"), L"file1");  // the oldest was dropped
  EXPECT_EQ(window.Cell(kEvents, 999, L"NOLABEL"), L"1");
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(window.List(kEvents)->GetItemAt(i), rows[i]);
}

TEST_F(ListsTest, HeaderColumnsAndRowCellsShareTheirWidthsAndFitTheWidestText) {
  controller.model.syncEvents.AppendCapped(Event("Local added", "a", "2020-03-01  10:11:12"));
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  auto* header = window.List(kEvents)->GetHeader();
  dui::CControlUI* row = window.List(kEvents)->GetItemAt(0);
  ASSERT_EQ(header->GetCount(), 5);
  for (int c = 0; c < 5; ++c) {
    auto* rowRoot = row->AsContainer();
    ASSERT_TRUE(rowRoot);
    EXPECT_EQ(header->GetItemAt(c)->GetFixedWidth(), rowRoot->GetItemAt(c)->GetFixedWidth()) << "column " << c;
  }
  EXPECT_EQ(header->GetItemAt(2)->GetFixedWidth(), 0) << "the file column takes what is left";
  const int actionWidth = header->GetItemAt(1)->GetFixedWidth();

  // An action text wider than the column widens it, in the rows too.
  controller.model.syncEvents.AppendCapped(Event("Local renamed file somewhere", "b", "t"));
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  const int wider = header->GetItemAt(1)->GetFixedWidth();
  EXPECT_GT(wider, actionWidth);
  const int text = window.GetPaintManager().MeasureText(L"Local renamed file somewhere", -1, 0).cx;
  EXPECT_GE(wider, text);
  EXPECT_EQ(window.List(kEvents)->GetItemAt(1)->AsContainer()->GetItemAt(1)->GetFixedWidth(), wider);
  // Laid out, the cells sit under their header columns.
  window.GetPaintManager().LayoutIfNeeded();
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(header->GetItemAt(c)->GetPos().left, row->AsContainer()->GetItemAt(c)->GetPos().left) << "column " << c;
  }
}

TEST_F(ListsTest, TabClicksShowOneListAskForTheirListsAndAnotherClickOnTheSameTabChangesNothing) {
  EXPECT_TRUE(window.Shown(kEvents));
  EXPECT_TRUE(window.Selected(L"SYNCEVENTSBTN"));
  EXPECT_EQ(lists().Kind(), StatusList::kSyncEvents);

  Click(L"CONFLICTBTN");
  EXPECT_TRUE(window.Shown(L"CONFLICTLIST"));
  EXPECT_FALSE(window.Shown(kEvents));
  EXPECT_TRUE(window.Selected(L"CONFLICTBTN"));
  EXPECT_FALSE(window.Selected(L"SYNCEVENTSBTN"));
  EXPECT_EQ(lists().Kind(), StatusList::kConflicts);
  EXPECT_EQ(lists().CurrentList(), L"CONFLICTLIST");

  // The selected tab clicked again stays selected and asks for nothing.
  Click(L"CONFLICTBTN");
  EXPECT_TRUE(window.Selected(L"CONFLICTBTN"));
  EXPECT_TRUE(window.Shown(L"CONFLICTLIST"));

  Click(L"UNSYNCBTN");
  EXPECT_TRUE(window.Shown(L"UNSYNCLIST"));
  EXPECT_FALSE(window.Shown(L"CONFLICTLIST"));
  Click(L"UNSYNCBTN");
  Click(L"ERRORBTN");
  EXPECT_EQ(lists().Kind(), StatusList::kFailed);
  Click(L"ERRORBTN");
  EXPECT_THAT(controller.Calls(), ElementsAre("RequestList:1", "RequestList:4"));

  Click(L"LASTSYNCFILESBTN");
  EXPECT_EQ(lists().Kind(), StatusList::kLastSynced);
  Click(L"THISDEVICEBTN");
  EXPECT_TRUE(window.Shown(L"THISDEVICELIST"));
  EXPECT_EQ(lists().Kind(), StatusList::kThisDevice);
  Click(L"REMOTEDEVICESBTN");
  EXPECT_TRUE(window.Shown(L"REMOTEDEVICESLIST"));
  EXPECT_EQ(lists().Kind(), StatusList::kRemoteDevices);
  int shownLists = 0;
  for (const wchar_t* list : {L"SYNCEVENTSLIST", L"UNSYNCLIST", L"LOCALLYCHANGEDLIST", L"CONFLICTLIST", L"ERRORLIST",
                              L"LASTSYNCFILESLIST", L"THISDEVICELIST", L"REMOTEDEVICESLIST", L"LOGLIST"}) {
    shownLists += window.Shown(list) ? 1 : 0;
  }
  EXPECT_EQ(shownLists, 1);
  EXPECT_EQ(lists().PassInterval(), std::chrono::milliseconds(100));

  // What the data thread waits for: the model list the current list shows;
  // this device's live figures have no changed flag and are looked at on
  // every pass.
  EXPECT_TRUE(lists().FilledOnlyWhenChanged());
  EXPECT_EQ(lists().ListOfInterest(), &controller.model.devices);
  Click(L"CONFLICTBTN");
  EXPECT_EQ(lists().ListOfInterest(), &controller.model.conflicts);
  Click(L"THISDEVICEBTN");
  EXPECT_FALSE(lists().FilledOnlyWhenChanged());
  EXPECT_EQ(lists().ListOfInterest(), nullptr);
}

TEST_F(ListsTest, TheDataPassRefreshesOnlyTheCurrentList) {
  controller.model.conflicts.AppendCapped(PathTime("a/report.docx", "2020-03-01  10:11:12"));
  controller.model.conflicts.MarkChanged();
  controller.model.syncEvents.AppendCapped(Event("Local added", "x", "t"));
  controller.model.syncEvents.MarkChanged();
  Click(L"CONFLICTBTN");
  lists().DataPass();
  EXPECT_EQ(window.Rows(L"CONFLICTLIST"), 1);
  EXPECT_EQ(window.Rows(kEvents), 0);
  EXPECT_TRUE(controller.model.syncEvents.Changed()) << "kept for when its tab shows";
  Click(L"SYNCEVENTSBTN");
  lists().DataPass();
  EXPECT_EQ(window.Rows(kEvents), 1);
}

TEST_F(ListsTest, HiddenListsComeBackWithTheSelectedTab) {
  Click(L"CONFLICTBTN");
  lists().OnFailedCount(2);
  lists().HideAll();
  for (const wchar_t* list : {L"SYNCEVENTSLIST", L"CONFLICTLIST", L"LOCALLYCHANGEDLIST"}) EXPECT_FALSE(window.Shown(list));
  EXPECT_EQ(window.Find(L"ERRORBTN")->GetText(), L"Failure Files");
  EXPECT_EQ(lists().Counts().failed, L"");
  EXPECT_TRUE(window.Selected(L"CONFLICTBTN"));
  lists().ShowCurrentTab();
  EXPECT_TRUE(window.Shown(L"CONFLICTLIST"));
  // A click on the selected tab shows its list as well.
  lists().HideAll();
  Click(L"CONFLICTBTN");
  EXPECT_TRUE(window.Shown(L"CONFLICTLIST"));
}

TEST_F(ListsTest, TabButtonsCarryTheirCountsAlsoThroughTheTextQuery) {
  controller.model.folder.unsyncedFileCount = 3;
  lists().OnUnsyncedChanged();
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"UnSynced Files (3)");
  lists().OnFailedCount(2);
  EXPECT_EQ(window.Find(L"ERRORBTN")->GetText(), L"Failure Files (2)");
  // A reload of the texts keeps the counts.
  dui::CResourceManager::GetInstance().ReloadText();
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"UnSynced Files (3)");
  EXPECT_EQ(window.Find(L"ERRORBTN")->GetText(), L"Failure Files (2)");
  window.SwitchLanguage(L"zh_cn");
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"\u672a\u540c\u6b65\u6587\u4ef6 (3)");

  // Nothing unsynced: no count, and the list is emptied.
  window.SwitchLanguage(L"en");
  controller.model.unsynced.Replace({FileItem("a", "queued")});
  controller.model.unsynced.MarkChanged();
  lists().Refresh(StatusList::kUnsynced);
  ASSERT_EQ(window.Rows(L"UNSYNCLIST"), 1);
  controller.model.folder.unsyncedFileCount = 0;
  lists().OnUnsyncedChanged();
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"UnSynced Files");
  EXPECT_EQ(window.Rows(L"UNSYNCLIST"), 0);
  lists().OnFailedCount(0);
  EXPECT_EQ(window.Find(L"ERRORBTN")->GetText(), L"Failure Files");
}

TEST_F(ListsTest, LocalChangesTakeOverTheUnsyncedTabUntilARevert) {
  controller.model.locallyChanged.Replace(
      {PathTime("old.txt", "2020-03-01  10:00:00", 10), PathTime("new.txt", "2020-03-01  11:00:00", 2048)});
  controller.model.locallyChanged.MarkChanged();
  lists().OnLocalChangesCount(2);

  EXPECT_TRUE(lists().LocalChangesMode());
  EXPECT_TRUE(window.Shown(L"REVERTBTN"));
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"Changed Items (2)");
  EXPECT_TRUE(window.Selected(L"UNSYNCBTN"));
  EXPECT_TRUE(window.Shown(L"LOCALLYCHANGEDLIST"));
  EXPECT_FALSE(window.Shown(kEvents));
  EXPECT_EQ(lists().Kind(), StatusList::kLocallyChanged);
  EXPECT_THAT(controller.Calls(), ElementsAre("RequestList:3"));
  ASSERT_EQ(window.Rows(L"LOCALLYCHANGEDLIST"), 2);
  EXPECT_EQ(window.Cell(L"LOCALLYCHANGEDLIST", 0, L"FILELABEL"), L"new.txt");
  EXPECT_EQ(window.Cell(L"LOCALLYCHANGEDLIST", 0, L"SIZELABEL"), L"2.00 KiB");

  // The unsynced count does not overwrite the tab's text meanwhile, nor does
  // a reload of the texts.
  controller.model.folder.unsyncedFileCount = 5;
  lists().OnUnsyncedChanged();
  dui::CResourceManager::GetInstance().ReloadText();
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"Changed Items (2)");
  // The data thread keeps the list current.
  controller.model.locallyChanged.AppendCapped(PathTime("third.txt", "t"));
  controller.model.locallyChanged.MarkChanged();
  lists().DataPass();
  EXPECT_EQ(window.Rows(L"LOCALLYCHANGEDLIST"), 3);
  // A second count only asks again.
  lists().OnLocalChangesCount(3);
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"Changed Items (3)");
  EXPECT_THAT(controller.Calls(), ElementsAre("RequestList:3", "RequestList:3"));

  lists().LeaveLocalChangesMode();
  EXPECT_FALSE(lists().LocalChangesMode());
  EXPECT_TRUE(window.Shown(L"UNSYNCLIST"));
  EXPECT_FALSE(window.Shown(L"LOCALLYCHANGEDLIST"));
  EXPECT_EQ(window.Find(L"UNSYNCBTN")->GetText(), L"UnSynced Files");
  EXPECT_EQ(lists().Kind(), StatusList::kUnsynced);
  EXPECT_THAT(controller.Calls(), ElementsAre("RequestList:3", "RequestList:3", "RequestList:1"));
}

TEST_F(ListsTest, TheLogTabAppearsAndGoesAway) {
  Click(L"CONFLICTBTN");
  EXPECT_FALSE(window.Shown(L"LOGBTN"));
  lists().ToggleLogTab();
  EXPECT_TRUE(window.Shown(L"LOGBTN"));
  EXPECT_TRUE(window.Selected(L"LOGBTN"));
  EXPECT_TRUE(window.Shown(L"LOGLIST"));
  EXPECT_FALSE(window.Shown(L"CONFLICTLIST"));
  EXPECT_EQ(lists().Kind(), StatusList::kConflicts) << "the log leaves the list kind";
  lists().ToggleLogTab();
  EXPECT_FALSE(window.Shown(L"LOGBTN"));
  EXPECT_FALSE(window.Shown(L"LOGLIST"));
  EXPECT_TRUE(window.Selected(L"SYNCEVENTSBTN"));
  EXPECT_TRUE(window.Shown(kEvents));
}

TEST_F(ListsTest, UnsyncedFilesShowTheirStateIconProgressAndSizeInBothLanguages) {
  controller.model.unsynced.Replace({FileItem("dir/moving.bin", "progress", 42, 1048577),
                                     FileItem("waiting.bin", "queued", 0, 512), FileItem("later.bin", "rest")});
  controller.model.unsynced.MarkChanged();
  Click(L"UNSYNCBTN");
  lists().DataPass();
  constexpr wchar_t kList[] = L"UNSYNCLIST";
  ASSERT_EQ(window.Rows(kList), 3);
  EXPECT_EQ(window.Cell(kList, 0, L"ACTIONLABEL"), L"progress");
  EXPECT_EQ(window.Cell(kList, 0, L"FILELABEL"), L"moving.bin");
  EXPECT_EQ(window.Cell(kList, 0, L"FILEPROGRESS"), L"42%");
  EXPECT_EQ(window.Cell(kList, 0, L"SIZELABEL"), L"1.00 MiB");
  EXPECT_EQ(static_cast<dui::CProgressUI*>(window.CellControl(kList, 0, L"FILEPROGRESS"))->GetValue(), 42);
  EXPECT_TRUE(window.CellControl(kList, 0, L"ACTIONICONLABEL")->IsVisible());
  EXPECT_FALSE(window.CellControl(kList, 0, L"BEFORENULLICONLABEL")->IsVisible());
  EXPECT_EQ(window.Cell(kList, 1, L"ACTIONLABEL"), L"queued");
  EXPECT_EQ(window.Cell(kList, 1, L"FILEPROGRESS"), L"");
  EXPECT_EQ(static_cast<dui::CProgressUI*>(window.CellControl(kList, 1, L"FILEPROGRESS"))->GetValue(), 0);
  EXPECT_FALSE(window.CellControl(kList, 1, L"ACTIONICONLABEL")->IsVisible());
  EXPECT_TRUE(window.CellControl(kList, 1, L"BEFORENULLICONLABEL")->IsVisible());

  window.SwitchLanguage(L"zh_cn");
  EXPECT_EQ(window.Cell(kList, 0, L"ACTIONLABEL"), L"\u5904\u7406");
  EXPECT_EQ(window.Cell(kList, 1, L"ACTIONLABEL"), L"\u5165\u961f");
  EXPECT_EQ(window.Cell(kList, 2, L"ACTIONLABEL"), L"\u7b49\u5f85");
}

TEST_F(ListsTest, FailedFilesKeepTheirOrderAndShowTheEngineText) {
  ErrorRecord a;
  a.path = "x/denied.txt";
  a.error = "permission denied";
  ErrorRecord b;
  b.path = "y.txt";
  b.error = "no space left";
  controller.model.failed.Replace({a, b});
  controller.model.failed.MarkChanged();
  lists().Refresh(StatusList::kFailed);
  ASSERT_EQ(window.Rows(L"ERRORLIST"), 2);
  EXPECT_EQ(window.Cell(L"ERRORLIST", 0, L"NOLABEL"), L"2");
  EXPECT_EQ(window.Cell(L"ERRORLIST", 0, L"FILELABEL"), L"denied.txt");
  EXPECT_EQ(window.Cell(L"ERRORLIST", 0, L"DESCRIBELABEL"), L"permission denied");
  EXPECT_EQ(window.Cell(L"ERRORLIST", 1, L"FILELABEL"), L"y.txt");
}

TEST_F(ListsTest, LastSyncedFilesTakeTheirSizeFromTheRecordOrFromDisk) {
  std::ofstream(folder.path() / "found.txt", std::ios::binary) << "12345";
  FileItemRecord found = FileItem("found.txt", "", 0, 999);
  SetField(found.tag, "lastfind");
  controller.model.lastSynced.Replace({FileItem("done.bin", "", 0, 2048), found});
  controller.model.lastSynced.MarkChanged();
  lists().Refresh(StatusList::kLastSynced);
  ASSERT_EQ(window.Rows(L"LASTSYNCFILESLIST"), 2);
  EXPECT_EQ(window.Cell(L"LASTSYNCFILESLIST", 0, L"SIZELABEL"), L"5 B");
  EXPECT_EQ(window.Cell(L"LASTSYNCFILESLIST", 1, L"SIZELABEL"), L"2.00 KiB");
}

TEST_F(ListsTest, ThisDeviceShowsItsFourFiguresInTheWindowLanguage) {
  controller.model.UpdateSummary([](SystemSummary& s) {
    SetField(s.versionText, "v1.19.0 ( linux 32 ");
    s.cpuPercent = 7;
    s.memory = 3 * 1048576 + 524288;
    s.uptime = BreakDownDuration(59);
  });
  Click(L"THISDEVICEBTN");
  lists().DataPass();
  constexpr wchar_t kList[] = L"THISDEVICELIST";
  ASSERT_EQ(window.Rows(kList), 4);
  EXPECT_EQ(window.Cell(kList, 0, L"ITEMLABEL"), L"Ram Utilization");
  EXPECT_EQ(window.Cell(kList, 0, L"DESCRIBELABEL"), L"3.50 MiB");
  EXPECT_EQ(window.Cell(kList, 1, L"DESCRIBELABEL"), L"7%");
  EXPECT_EQ(window.Cell(kList, 2, L"ITEMLABEL"), L"Uptime");
  EXPECT_EQ(window.Cell(kList, 2, L"DESCRIBELABEL"), L"0m ");
  EXPECT_EQ(window.Cell(kList, 3, L"DESCRIBELABEL"), L"v1.19.0 ( linux 32 bit)");

  // Refilled on every pass, without a flag.
  controller.model.UpdateSummary([](SystemSummary& s) { s.uptime = BreakDownDuration(93784); });
  lists().DataPass();
  EXPECT_EQ(window.Cell(kList, 2, L"DESCRIBELABEL"), L"1d 2h 3m ");

  window.SwitchLanguage(L"zh_cn");
  EXPECT_EQ(window.Cell(kList, 0, L"ITEMLABEL"), L"\u5185\u5b58\u4f7f\u7528\u91cf");
  EXPECT_EQ(window.Cell(kList, 3, L"DESCRIBELABEL"), L"v1.19.0 ( linux 32 \u4f4d )");
  controller.model.UpdateSummary([](SystemSummary& s) { s.uptime = BreakDownDuration(59); });
  lists().DataPass();
  EXPECT_EQ(window.Cell(kList, 2, L"DESCRIBELABEL"), L"0\u5206 ");
}

DeviceRecord Device(const std::string& id, const std::string& name, bool connected) {
  DeviceRecord d = DeviceRecord::NewDevice(id);
  SetField(d.name, name);
  d.connected = connected ? 1 : 0;
  return d;
}

TEST_F(ListsTest, RemoteDevicesListConnectedOnesFirstWithTheirSyncState) {
  DeviceRecord offline = Device("D1", "laptop", false);
  DeviceRecord unknown = Device("D2", "unknown", false);
  // This computer, named in another case: not a remote device.
  DeviceRecord self = Device("D3", WideToUtf8(AsciiLower(platform::ComputerName())) + "", false);
  DeviceRecord syncing = Device("D4", "nas", true);
  syncing.completion = 42.7;
  syncing.needBytes = 2048;
  syncing.needItems = 3;
  SetField(syncing.address, "10.0.0.2:22000");
  SetField(syncing.downloadText, "1.00 KiB/s (2.00 KiB)");
  SetField(syncing.clientVersion, "v1.19.0");
  DeviceRecord deleting = Device("D5", "backup", true);
  deleting.completion = 100;
  deleting.needDeletes = 4;
  DeviceRecord done = Device("D6", "phone", true);
  done.completion = 100;
  DeviceRecord paused = Device("D7", "tablet", true);
  paused.paused = 1;
  controller.model.devices.Replace({offline, unknown, self, syncing, deleting, done, paused});
  controller.model.devices.MarkChanged();
  Click(L"REMOTEDEVICESBTN");
  lists().DataPass();

  constexpr wchar_t kList[] = L"REMOTEDEVICESLIST";
  ASSERT_EQ(window.Rows(kList), 5);
  EXPECT_EQ(window.Cell(kList, 0, L"DEVICENAMELABEL"), L"nas");
  EXPECT_EQ(window.Cell(kList, 0, L"DEVICESTATUSLABEL"), L"syncing 42% 2.00 KiB Need: 3 ");
  EXPECT_EQ(window.Cell(kList, 0, L"IPLABEL"), L"10.0.0.2:22000");
  EXPECT_EQ(window.Cell(kList, 0, L"DOWNLOADLABEL"), L"1.00 KiB/s (2.00 KiB)");
  EXPECT_EQ(window.Cell(kList, 0, L"VERSIONLABEL"), L"v1.19.0");
  EXPECT_EQ(window.Cell(kList, 1, L"DEVICESTATUSLABEL"), L"syncing 95%  Need: 4 ");
  EXPECT_EQ(window.Cell(kList, 2, L"DEVICESTATUSLABEL"), L"up to date");
  EXPECT_EQ(window.Cell(kList, 3, L"DEVICESTATUSLABEL"), L"Paused");
  EXPECT_EQ(window.Cell(kList, 4, L"DEVICENAMELABEL"), L"laptop");
  EXPECT_EQ(window.Cell(kList, 4, L"DEVICESTATUSLABEL"), L"Disconnected");
  EXPECT_EQ(window.Cell(kList, 4, L"IPLABEL"), L"dynamic ");
  EXPECT_EQ(window.CellControl(kList, 4, L"DEVICENAMELABEL")->GetFont(), 1);
  EXPECT_EQ(window.CellControl(kList, 0, L"DEVICENAMELABEL")->GetFont(), -1);

  window.SwitchLanguage(L"zh_cn");
  EXPECT_EQ(window.Cell(kList, 0, L"DEVICESTATUSLABEL"), L"\u540c\u6b65\u4e2d 42% 2.00 KiB \u8fd8\u9700 : 3 ");
  EXPECT_EQ(window.Cell(kList, 2, L"DEVICESTATUSLABEL"), L"\u540c\u6b65\u5b8c\u6210");
  EXPECT_EQ(window.Cell(kList, 4, L"DEVICESTATUSLABEL"), L"\u8fde\u63a5\u5df2\u65ad\u5f00");
}

TEST_F(ListsTest, DeviceButtonsBlinkWhileWorkToDoAndCountConnectedDevices) {
  DeviceRecord nas = Device("D4", "nas", true);
  nas.completion = 50;
  controller.model.devices.Replace({nas, Device("D1", "laptop", false)});
  Click(L"REMOTEDEVICESBTN");

  lists().OnRemoteDevicesRefresh();
  EXPECT_EQ(window.Find(L"REMOTEDEVICESBTN")->GetText(), L"Remote Devices (1)");
  EXPECT_EQ(window.Find(L"REMOTEDEVICESGREENBTN")->GetText(), L"Remote Devices (1)");
  EXPECT_TRUE(window.Shown(L"REMOTEDEVICESGREENBTN"));
  EXPECT_FALSE(window.Shown(L"REMOTEDEVICESBTN"));
  EXPECT_TRUE(window.Selected(L"REMOTEDEVICESGREENBTN")) << "the tab stays selected while it blinks";
  lists().OnRemoteDevicesRefresh();
  EXPECT_TRUE(window.Shown(L"REMOTEDEVICESBTN"));
  EXPECT_TRUE(window.Selected(L"REMOTEDEVICESBTN"));
  EXPECT_TRUE(window.Shown(L"REMOTEDEVICESLIST"));

  // Complete: no more blinking.
  nas.completion = 100;
  controller.model.devices.Replace({nas});
  lists().OnRemoteDevicesRefresh();
  lists().OnRemoteDevicesRefresh();
  EXPECT_TRUE(window.Shown(L"REMOTEDEVICESBTN"));

  // This device: red while files failed, green otherwise; plain once up to
  // date. Not the current tab: none of the three is selected.
  ErrorRecord e;
  e.path = "f";
  controller.model.failed.Replace({e});
  lists().OnThisDeviceRefresh();
  EXPECT_TRUE(window.Shown(L"THISDEVICEREDBTN"));
  EXPECT_FALSE(window.Shown(L"THISDEVICEBTN"));
  EXPECT_FALSE(window.Selected(L"THISDEVICEREDBTN"));
  lists().OnThisDeviceRefresh();
  EXPECT_TRUE(window.Shown(L"THISDEVICEBTN"));
  controller.model.failed.Replace({});
  lists().OnThisDeviceRefresh();
  EXPECT_TRUE(window.Shown(L"THISDEVICEGREENBTN"));
  window.stateKey = L"Up to date";
  lists().OnThisDeviceRefresh();
  lists().OnThisDeviceRefresh();
  EXPECT_TRUE(window.Shown(L"THISDEVICEBTN"));
  EXPECT_TRUE(window.Selected(L"REMOTEDEVICESBTN"));

  // A click on the coloured look of the tab is a click on the tab.
  window.stateKey = L"Syncing_Event";
  lists().OnThisDeviceRefresh();
  ASSERT_TRUE(window.Shown(L"THISDEVICEGREENBTN"));
  Click(L"THISDEVICEGREENBTN");
  EXPECT_TRUE(window.Shown(L"THISDEVICELIST"));
  EXPECT_TRUE(window.Selected(L"THISDEVICEGREENBTN"));
}

TEST_F(ListsTest, DeviceButtonsDarkenUnderThePointerOnlyWhileTheirTabIsCurrent) {
  window.GetPaintManager().LayoutIfNeeded();
  const dui::Rect r = window.Find(L"THISDEVICEBTN")->GetPos();
  const dui::Point over{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  lists().OnMouseMove(over);
  EXPECT_EQ(window.Find(L"THISDEVICEBTN")->GetBkColor(), 0xFFEEEEEEu);
  Click(L"THISDEVICEBTN");
  lists().OnMouseMove(over);
  for (const wchar_t* b : {L"THISDEVICEBTN", L"THISDEVICEGREENBTN", L"THISDEVICEREDBTN"}) {
    EXPECT_EQ(window.Find(b)->GetBkColor(), 0xFFC3C3C3u);
  }
  lists().OnMouseMove(dui::Point{1, 1});
  EXPECT_EQ(window.Find(L"THISDEVICEBTN")->GetBkColor(), 0xFFEEEEEEu);
}

TEST_F(ListsTest, DoubleClickOnAConflictShowsTheWholePathInTheFileManager) {
  const std::string chinese = LongChinesePath();
  controller.model.conflicts.Replace({PathTime(chinese, "t"), PathTime("../outside.txt", "t")});
  controller.model.conflicts.MarkChanged();
  controller.model.syncEvents.AppendCapped(Event("Local added", "x", "t"));
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();  // the sync events
  Click(L"CONFLICTBTN");
  lists().DataPass();
  ASSERT_EQ(window.Rows(L"CONFLICTLIST"), 2);

  // Through the window: a double click over the second row's file cell.
  auto& pm = window.GetPaintManager();
  pm.LayoutIfNeeded();
  dui::CControlUI* file = window.CellControl(L"CONFLICTLIST", 1, L"FILELABEL");
  const dui::Rect r = file->GetPos();
  window.HandleMessage(dui::kWmLButtonDblClk, 0, dui::MakePointLParam({(r.left + r.right) / 2, (r.top + r.bottom) / 2}));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], folder.path() / PathFromWide(Utf8ToWide(chinese)));
  EXPECT_EQ(WideFromPath(shown[0].filename()), L"\u62a5\u544a\u4e66.docx");

  // A path that leads out of the sync folder is not shown.
  window.List(L"CONFLICTLIST")->ActivateRow(0);
  EXPECT_EQ(shown.size(), 1u);
  // Rows of other lists do nothing.
  window.List(kEvents)->ActivateRow(0);
  EXPECT_EQ(shown.size(), 1u);
}

TEST_F(ListsTest, AnotherControllerEmptiesTheListsAndNoneStopsTheRefreshers) {
  controller.model.syncEvents.AppendCapped(Event("Local added", "x", "t"));
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  ASSERT_EQ(window.Rows(kEvents), 1);
  lists().SetController(nullptr);
  EXPECT_EQ(window.Rows(kEvents), 0);
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  lists().OnUnsyncedChanged();
  lists().OnThisDeviceRefresh();
  EXPECT_EQ(window.Rows(kEvents), 0);
  EXPECT_TRUE(controller.model.syncEvents.Changed());

  FakeController next;
  next.model.syncEvents.AppendCapped(Event("Remote added", "y", "t"));
  next.model.syncEvents.MarkChanged();
  lists().SetController(&next);
  lists().DataPass();
  EXPECT_EQ(window.Cell(kEvents, 0, L"FILELABEL"), L"y");
  lists().SetController(&controller);
}

TEST_F(ListsTest, TheDataThreadFillsWhileTheUiThreadSwitchesTabs) {
  for (int i = 0; i < 300; ++i) controller.model.syncEvents.AppendCapped(Event("Local added", "f" + std::to_string(i), "t"));
  std::atomic<bool> stop{false};
  std::thread data([&] {
    while (!stop) {
      controller.model.syncEvents.MarkChanged();
      controller.model.conflicts.MarkChanged();
      lists().DataPass();
    }
  });
  for (int i = 0; i < 200; ++i) {
    Click(i % 2 ? L"CONFLICTBTN" : L"SYNCEVENTSBTN");
    window.GetPaintManager().LayoutIfNeeded();
  }
  stop = true;
  data.join();
  Click(L"SYNCEVENTSBTN");
  controller.model.syncEvents.MarkChanged();
  lists().DataPass();
  EXPECT_EQ(window.Rows(kEvents), 300);
  EXPECT_TRUE(window.Shown(kEvents));
  EXPECT_FALSE(window.Shown(L"CONFLICTLIST"));
}

}  // namespace
}  // namespace orlin::testing
