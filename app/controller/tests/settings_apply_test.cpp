#include "app/controller/settings_apply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"

namespace orlin {
namespace {

// Records every call in order, answers from switches the test sets, and
// keeps what the "files" hold so memory and files can be compared.
class RecordingPort : public SettingsApplyPort {
 public:
  std::vector<std::string> calls;
  std::set<std::string> failing;  // calls that report failure
  bool copyOk = true;
  SyncSettings stored;
  LiveSettingsFields pushed;
  std::wstring configPath;   // config.xml's folder path
  std::wstring userPath;     // userconfig.xml's path
  std::wstring ignoreFolder; // where the ignore text went
  std::wstring copiedFrom, copiedTo;

  bool Ok(const std::string& call) {
    calls.push_back(call);
    return failing.count(call) == 0;
  }
  void Store(const SyncSettings& record) override { stored = record; }
  void SetAutostart(bool) override { calls.push_back("SetAutostart"); }
  void SetFileManagerEntry(bool, const std::wstring&) override { calls.push_back("SetFileManagerEntry"); }
  bool WriteLanguage(const std::wstring&) override { return Ok("WriteLanguage"); }
  bool WriteTaskbarStyle(bool) override { return Ok("WriteTaskbarStyle"); }
  bool WriteDpi(int) override { return Ok("WriteDpi"); }
  bool WriteUserDefault(bool) override { return Ok("WriteUserDefault"); }
  bool WriteUserPath(const std::wstring& path) override {
    if (!Ok("WriteUserPath")) return false;
    userPath = path;
    return true;
  }
  bool WriteIgnoreText(const std::wstring& folder, const std::wstring&) override {
    ignoreFolder = folder;
    return Ok("WriteIgnoreText");
  }
  bool WriteFolderPath(const SyncSettings& r) override {
    if (!Ok("WriteFolderPath")) return false;
    configPath = r.syncFolderPath;
    return true;
  }
  bool WriteRateLimits(const SyncSettings&) override { return Ok("WriteRateLimits"); }
  bool WriteFolderType(const SyncSettings&) override { return Ok("WriteFolderType"); }
  bool WritePullOrder(const SyncSettings&) override { return Ok("WritePullOrder"); }
  bool WriteVersioning(const SyncSettings&) override { return Ok("WriteVersioning"); }
  bool PauseForSettings() override { return Ok("PauseForSettings"); }
  LivePush PushToEngine(const SyncSettings&, const LiveSettingsFields& fields) override {
    calls.push_back("PushToEngine");
    pushed = fields;
    return fields.Any() ? LivePush::kPushed : LivePush::kNothingToPush;
  }
  void Resume() override { calls.push_back("Resume"); }
  void QuietRefresh() override { calls.push_back("QuietRefresh"); }
  bool TakeOverFolder(const std::wstring& from, const std::wstring& to) override {
    calls.push_back("TakeOverFolder");
    copiedFrom = from;
    copiedTo = to;
    return copyOk;
  }
  void FolderMoved(const std::wstring&) override { calls.push_back("FolderMoved"); }
  void SendVersioning(int) override { calls.push_back("SendVersioning"); }

  bool Called(const std::string& call) const {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
};

SyncSettings Current() {
  SyncSettings c;
  c.language = L"zh_cn";
  c.syncFolderPath = L"/home/anna/Sync";
  c.ignoreText = L"";
  c.deviceId = L"DEVICE";
  c.dpi = 96;
  return c;
}

SyncSettings EverythingChanged() {
  SyncSettings n = Current();
  n.language = L"en";
  n.syncFolderPath = L"/data/Sync";
  n.ignoreText = L"photos\n";
  n.sendLimit = 50;
  n.receiveLimit = 123;
  n.folderType = kFolderSendOnly;
  n.pullOrder = kPullAlphabetic;
  n.versionsKept = 5;
  n.autostart = false;
  n.showInMyComputer = true;
  n.hideFromTaskbar = true;
  n.dpi = 144;
  n.defaultLocation = false;
  return n;
}

const std::vector<std::string> kDesktopSteps = {"SetAutostart",      "SetFileManagerEntry", "WriteLanguage",
                                                "WriteTaskbarStyle", "WriteDpi",            "WriteUserDefault"};

TEST(SettingsApplyTest, ALanguageChangeAloneSendsNoEngineCommand) {
  RecordingPort port;
  SyncSettings c = Current();
  SyncSettings n = Current();
  n.language = L"en";
  const auto report = SettingsApply(port).Run(c, n);
  EXPECT_FALSE(report.engineChanged);
  EXPECT_EQ(port.calls, kDesktopSteps);
  EXPECT_EQ(c.language, L"en");
  EXPECT_EQ(port.stored, c);
}

TEST(SettingsApplyTest, EveryStepRunsInItsOrderAroundThePause) {
  RecordingPort port;
  SyncSettings c = Current();
  const SyncSettings n = EverythingChanged();
  const auto report = SettingsApply(port).Run(c, n);

  std::vector<std::string> expected = kDesktopSteps;
  for (const char* step : {"PauseForSettings", "TakeOverFolder", "WriteFolderPath", "WriteUserPath", "FolderMoved",
                           "WriteRateLimits", "WriteFolderType", "WritePullOrder", "WriteVersioning",
                           "SendVersioning", "WriteIgnoreText", "PushToEngine", "QuietRefresh", "Resume"}) {
    expected.push_back(step);
  }
  EXPECT_EQ(port.calls, expected);
  EXPECT_TRUE(report.engineChanged);
  EXPECT_TRUE(report.restored.empty());
  EXPECT_EQ(port.copiedFrom, L"/home/anna/Sync");
  EXPECT_EQ(port.copiedTo, L"/data/Sync");
  // The ignore file belongs to the folder the engine syncs from now on.
  EXPECT_EQ(port.ignoreFolder, L"/data/Sync");
  EXPECT_TRUE(port.pushed.folderPath && port.pushed.rateLimits && port.pushed.folderType && port.pushed.pullOrder &&
              port.pushed.versioning);
  SyncSettings expectedRecord = n;
  expectedRecord.deviceId = L"DEVICE";
  EXPECT_EQ(c, expectedRecord);
  EXPECT_EQ(port.stored, c);
}

TEST(SettingsApplyTest, AFailedOrderWriteKeepsTheOldOrderAndTheLaterStepsStillRun) {
  RecordingPort port;
  port.failing = {"WritePullOrder"};
  SyncSettings c = Current();
  SyncSettings n = Current();
  n.pullOrder = kPullNewestFirst;
  n.versionsKept = 3;
  n.ignoreText = L"big\n";
  const auto report = SettingsApply(port).Run(c, n);
  EXPECT_EQ(c.pullOrder, Current().pullOrder);
  EXPECT_EQ(c.versionsKept, 3);
  EXPECT_EQ(c.ignoreText, L"big\n");
  EXPECT_TRUE(port.Called("SendVersioning"));
  EXPECT_TRUE(port.Called("WriteIgnoreText"));
  EXPECT_EQ(report.restored, std::vector<ApplyStep>{ApplyStep::kPullOrder});
  // The engine is not told an order config.xml does not hold.
  EXPECT_FALSE(port.pushed.pullOrder);
  EXPECT_TRUE(port.pushed.versioning);
  EXPECT_EQ(port.stored, c);
}

TEST(SettingsApplyTest, ACopyThatFailsKeepsTheOldFolderEverywhere) {
  RecordingPort port;
  port.copyOk = false;
  port.configPath = port.userPath = L"/home/anna/Sync";
  SyncSettings c = Current();
  SyncSettings n = Current();
  n.syncFolderPath = L"/data/Sync";
  n.ignoreText = L"x\n";
  const auto report = SettingsApply(port).Run(c, n);
  EXPECT_EQ(c.syncFolderPath, L"/home/anna/Sync");
  EXPECT_EQ(port.stored.syncFolderPath, L"/home/anna/Sync");
  EXPECT_EQ(port.configPath, L"/home/anna/Sync");
  EXPECT_EQ(port.userPath, L"/home/anna/Sync");
  EXPECT_FALSE(port.Called("WriteFolderPath"));
  EXPECT_FALSE(port.Called("WriteUserPath"));
  EXPECT_FALSE(port.Called("FolderMoved"));
  EXPECT_FALSE(port.pushed.folderPath);
  EXPECT_EQ(port.ignoreFolder, L"/home/anna/Sync");
  EXPECT_EQ(report.restored, std::vector<ApplyStep>{ApplyStep::kFolderPath});
  // The engine was paused for the move: it is resumed all the same.
  EXPECT_TRUE(port.Called("Resume"));
  EXPECT_TRUE(port.Called("QuietRefresh"));
}

TEST(SettingsApplyTest, AMoveIntoTheSyncFolderOrOntoItIsRefusedBeforeAnyCopy) {
  for (const wchar_t* target : {L"/home/anna/Sync/inner", L"/home/anna/Sync/", L"/home/anna/Sync/a/.."}) {
    RecordingPort port;
    SyncSettings c = Current();
    SyncSettings n = Current();
    n.syncFolderPath = target;
    const auto report = SettingsApply(port).Run(c, n);
    EXPECT_FALSE(port.Called("TakeOverFolder")) << WideToUtf8(target);
    EXPECT_EQ(c.syncFolderPath, L"/home/anna/Sync");
    EXPECT_EQ(report.restored, std::vector<ApplyStep>{ApplyStep::kFolderMoveRefused});
  }
  // A sibling whose name only begins like the folder is another folder.
  EXPECT_TRUE(FolderMoveAllowed(L"/home/anna/Sync", L"/home/anna/Sync2"));
  EXPECT_TRUE(FolderMoveAllowed(L"/home/anna/Sync", L"/home/anna"));
  EXPECT_FALSE(FolderMoveAllowed(L"/home/anna/Sync", L""));
}

TEST(SettingsApplyTest, AUserConfigThatCannotBeWrittenTakesConfigBackToTheOldFolder) {
  RecordingPort port;
  port.failing = {"WriteUserPath"};
  SyncSettings c = Current();
  SyncSettings n = Current();
  n.syncFolderPath = L"/data/Sync";
  SettingsApply(port).Run(c, n);
  EXPECT_EQ(c.syncFolderPath, L"/home/anna/Sync");
  EXPECT_EQ(port.configPath, L"/home/anna/Sync");
  EXPECT_FALSE(port.Called("FolderMoved"));
}

TEST(SettingsApplyTest, ARefusedVersioningWriteSendsNothingToTheServer) {
  RecordingPort port;
  port.failing = {"WriteVersioning"};
  SyncSettings c = Current();
  SyncSettings n = Current();
  n.versionsKept = 9;
  const auto report = SettingsApply(port).Run(c, n);
  EXPECT_EQ(c.versionsKept, 0);
  EXPECT_FALSE(port.Called("SendVersioning"));
  EXPECT_EQ(report.restored, std::vector<ApplyStep>{ApplyStep::kVersioning});
  EXPECT_EQ(report.livePush, LivePush::kNothingToPush);
}

TEST(SettingsApplyTest, BothLimitsAreRestoredTogether) {
  RecordingPort port;
  port.failing = {"WriteRateLimits", "WriteIgnoreText"};
  SyncSettings c = Current();
  c.sendLimit = 10;
  c.receiveLimit = 20;
  SyncSettings n = c;
  n.receiveLimit = 123;
  n.ignoreText = L"a\n";
  SettingsApply(port).Run(c, n);
  EXPECT_EQ(c.sendLimit, 10);
  EXPECT_EQ(c.receiveLimit, 20);
  EXPECT_EQ(c.ignoreText, L"");
}

}  // namespace
}  // namespace orlin
