#include "engine/config_file.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "common/message_presenter.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServerId = "MFZWI3D-BONSGYC-YLTMRWG-C43ENR5-QXGZDMM-FZWI3DP-BONSGYY-LTMRWAD";
constexpr const char* kOwnId = "FMJOH6Y-DS5SMQV-3DAO72P-IZS3CPE-6NEM5MF-MAVQJ5Q-FNBHWSH-R4AEEAF";

class RecordingPresenter : public MessagePresenter {
 public:
  struct Shown {
    std::wstring title;
    std::wstring key;
    bool showCancel;
  };
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    shown.push_back({title, key, showCancel});
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override { ADD_FAILURE() << "no login failure expected"; }
  std::vector<Shown> shown;
};

fs::path FixturePath(const char* name) { return fs::path(__FILE__).parent_path() / "data" / name; }

std::string ReadText(const fs::path& file) {
  std::string text;
  EXPECT_TRUE(ReadWholeFile(file, text)) << file;
  return text;
}

// A minimal configuration in the engine's shape, for cases the captured
// first-run file does not cover.
constexpr const char* kSmallConfig = R"(<configuration version="36">
    <folder id="default" path="/data/Sync" type="sendonly">
        <device id="FMJOH6Y-DS5SMQV-3DAO72P-IZS3CPE-6NEM5MF-MAVQJ5Q-FNBHWSH-R4AEEAF" introducedBy=""></device>
        <versioning type="simple">
            <param key="keep" val="7"></param>
        </versioning>
        <order>largestFirst</order>
    </folder>
    <device id="FMJOH6Y-DS5SMQV-3DAO72P-IZS3CPE-6NEM5MF-MAVQJ5Q-FNBHWSH-R4AEEAF" name="pc"></device>
    <gui enabled="true">
        <apikey>k3y&amp;more</apikey>
    </gui>
    <options>
        <maxSendKbps>250</maxSendKbps>
        <maxRecvKbps>1024</maxRecvKbps>
    </options>
</configuration>
)";

class ConfigFileTest : public ::testing::Test {
 protected:
  void UseFixture(const char* name) { fs::copy_file(FixturePath(name), configPath_, fs::copy_options::overwrite_existing); }
  void UseText(std::string_view text) { ASSERT_FALSE(WriteFileAtomically(configPath_, text)); }

  tinyxml2::XMLElement* LoadRoot() {
    doc_.Clear();
    EXPECT_EQ(doc_.LoadFile(configPath_.string().c_str()), tinyxml2::XML_SUCCESS);
    return doc_.RootElement();
  }

  testsupport::TempDir dir_;
  fs::path configPath_ = dir_.path() / "config.xml";
  fs::path markerPath_ = dir_.path() / "config.xml.configured";
  RecordingPresenter presenter_;
  EngineConfigFile config_{configPath_, presenter_};
  tinyxml2::XMLDocument doc_;
};

int CountChildren(tinyxml2::XMLElement* parent, const char* name) {
  int n = 0;
  for (auto* e = parent->FirstChildElement(name); e; e = e->NextSiblingElement(name)) ++n;
  return n;
}

TEST_F(ConfigFileTest, ReadsTheEnginesFirstRunConfiguration) {
  UseFixture("config_first_run.xml");
  SyncSettings s;
  std::string apiKey;
  EXPECT_TRUE(config_.ReadApiKey(apiKey));
  EXPECT_TRUE(config_.ReadRateLimits(s));
  EXPECT_TRUE(config_.ReadVersioning(s));
  EXPECT_TRUE(config_.ReadFolderPath(s));
  EXPECT_TRUE(config_.ReadFolderType(s));
  EXPECT_TRUE(config_.ReadPullOrder(s, /*loginNeeded=*/false));
  EXPECT_EQ(apiKey, "Sd7YHpNt79Nmzb4o3oFL4RhTUKiQMVvs");
  EXPECT_EQ(s.syncFolderPath, L"/tmp/hx/h/Sync");
  EXPECT_EQ(s.folderType, kFolderSendReceive);
  EXPECT_EQ(s.pullOrder, kPullRandom);
  EXPECT_EQ(s.sendLimit, 0);
  EXPECT_EQ(s.receiveLimit, 0);
  EXPECT_EQ(s.versionsKept, 0);  // a versioning element without type
  EXPECT_EQ(ReadFolderIdentifier(configPath_), "default");
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(ConfigFileTest, ReadsEveryValueOfAHandMadeConfiguration) {
  UseText(kSmallConfig);
  SyncSettings s;
  std::string apiKey;
  EXPECT_TRUE(config_.ReadApiKey(apiKey));
  EXPECT_TRUE(config_.ReadRateLimits(s));
  EXPECT_TRUE(config_.ReadVersioning(s));
  EXPECT_TRUE(config_.ReadFolderType(s));
  EXPECT_TRUE(config_.ReadPullOrder(s, false));
  EXPECT_EQ(apiKey, "k3y&more");  // entities are resolved
  EXPECT_EQ(s.sendLimit, 250);
  EXPECT_EQ(s.receiveLimit, 1024);
  EXPECT_EQ(s.versionsKept, 7);
  EXPECT_EQ(s.folderType, kFolderSendOnly);
  EXPECT_EQ(s.pullOrder, kPullLargestFirst);
}

TEST_F(ConfigFileTest, UnknownWordsAndOtherVersioningLeaveTheRecordAlone) {
  UseText(R"(<configuration><folder type="mirror"><order>fastestFirst</order>
      <versioning type="staggered"><param key="maxAge" val="99"/></versioning></folder>
      <options/><gui/></configuration>)");
  SyncSettings s;
  s.folderType = kFolderReceiveOnly;
  s.pullOrder = kPullNewestFirst;
  s.versionsKept = 3;
  EXPECT_TRUE(config_.ReadFolderType(s));
  EXPECT_TRUE(config_.ReadPullOrder(s, false));
  EXPECT_TRUE(config_.ReadVersioning(s));
  EXPECT_EQ(s.folderType, kFolderReceiveOnly);
  EXPECT_EQ(s.pullOrder, kPullNewestFirst);
  EXPECT_EQ(s.versionsKept, 3);
}

TEST_F(ConfigFileTest, SimpleVersioningWithoutParameterKeepsNone) {
  UseText(R"(<configuration><folder><versioning type="simple"/></folder><options/><gui/></configuration>)");
  SyncSettings s;
  s.versionsKept = 4;
  EXPECT_TRUE(config_.ReadVersioning(s));
  EXPECT_EQ(s.versionsKept, 0);
}

TEST_F(ConfigFileTest, PullOrderIsForcedToSmallestFirstWhileLoginIsNeeded) {
  UseText(kSmallConfig);
  SyncSettings s;
  EXPECT_TRUE(config_.ReadPullOrder(s, /*loginNeeded=*/true));
  EXPECT_EQ(s.pullOrder, kPullSmallestFirst);
  EXPECT_STREQ(LoadRoot()->FirstChildElement("folder")->FirstChildElement("order")->GetText(), "smallestFirst");

  // Once logged in, the stored order is read as it is.
  SyncSettings after;
  EXPECT_TRUE(config_.ReadPullOrder(after, false));
  EXPECT_EQ(after.pullOrder, kPullSmallestFirst);
}

TEST_F(ConfigFileTest, UnloadableOrForeignFilesShowTheMessageAndChangeNothing) {
  SyncSettings original;
  original.sendLimit = 11;
  original.receiveLimit = 22;
  original.versionsKept = 3;
  original.syncFolderPath = L"/keep";
  original.folderType = kFolderReceiveOnly;
  original.pullOrder = kPullOldestFirst;

  const std::vector<std::string> broken = {
      "",                                                                     // empty file
      "<configuration><folder path='/x'>",                                    // cut short
      "not xml at all",                                                       //
      "<configuration><options/><gui/></configuration>",                      // no folder
      "<configuration><folder path='/x'/><gui/></configuration>",             // no options
      "<configuration><folder path='/x'/><options/></configuration>",         // no gui
  };
  for (const auto& text : broken) {
    SCOPED_TRACE(text);
    UseText(text);
    presenter_.shown.clear();
    SyncSettings s = original;
    std::string apiKey = "old";
    EXPECT_FALSE(config_.ReadRateLimits(s));
    EXPECT_FALSE(config_.ReadVersioning(s));
    EXPECT_FALSE(config_.ReadFolderPath(s));
    EXPECT_FALSE(config_.ReadFolderType(s));
    EXPECT_FALSE(config_.ReadPullOrder(s, /*loginNeeded=*/true));
    EXPECT_FALSE(config_.ReadApiKey(apiKey));
    EXPECT_EQ(s, original);
    EXPECT_EQ(apiKey, "old");
    ASSERT_EQ(presenter_.shown.size(), 6u);
    // The file is there: it is damaged, not missing.
    for (const auto& m : presenter_.shown) {
      EXPECT_EQ(m.title, L"Orlin");
      EXPECT_EQ(m.key, L"SyncConfig_Damaged_Msg");
      EXPECT_FALSE(m.showCancel);
    }
    EXPECT_EQ(InspectConfigFile(configPath_), ConfigFileState::kDamaged);
    EXPECT_EQ(ReadText(configPath_), text);  // the forced order did not write into it
  }

  fs::remove(configPath_);
  presenter_.shown.clear();
  SyncSettings s = original;
  EXPECT_FALSE(config_.ReadFolderPath(s));
  EXPECT_EQ(s, original);
  EXPECT_FALSE(fs::exists(configPath_));
  ASSERT_EQ(presenter_.shown.size(), 1u);
  EXPECT_EQ(presenter_.shown[0].key, L"SyncConfig_Failed_Msg");
  EXPECT_EQ(InspectConfigFile(configPath_), ConfigFileState::kMissing);
}

TEST_F(ConfigFileTest, ANonNumericLimitKeepsBothLimitsAndSaysSo) {
  UseText(R"(<configuration><folder/><gui/><options>
      <maxSendKbps>500</maxSendKbps><maxRecvKbps>fast</maxRecvKbps></options></configuration>)");
  SyncSettings s;
  s.sendLimit = 1;
  s.receiveLimit = 2;
  EXPECT_FALSE(config_.ReadRateLimits(s));
  EXPECT_EQ(s.sendLimit, 1);
  EXPECT_EQ(s.receiveLimit, 2);
  EXPECT_EQ(presenter_.shown.size(), 1u);

  for (const char* bad : {"", "12kb", "99999999999", "1.5"}) {
    SCOPED_TRACE(bad);
    UseText(std::string("<configuration><folder/><gui/><options><maxSendKbps>") + bad +
            "</maxSendKbps></options></configuration>");
    EXPECT_FALSE(config_.ReadRateLimits(s));
    EXPECT_EQ(s.sendLimit, 1);
  }
  // Blanks around a number are fine; a missing element is simply not read.
  UseText("<configuration><folder/><gui/><options><maxRecvKbps> 64 </maxRecvKbps></options></configuration>");
  EXPECT_TRUE(config_.ReadRateLimits(s));
  EXPECT_EQ(s.sendLimit, 1);
  EXPECT_EQ(s.receiveLimit, 64);
}

TEST_F(ConfigFileTest, VersionsKeptFiveWritesOneKeepParameter) {
  UseFixture("config_first_run.xml");
  SyncSettings s;
  s.versionsKept = 5;
  EXPECT_TRUE(config_.WriteVersioning(s));
  EXPECT_NE(ReadText(configPath_).find("<versioning type=\"simple\">\n            <param val=\"5\" key=\"keep\"/>\n"
                                       "        </versioning>"),
            std::string::npos)
      << ReadText(configPath_);

  // A different count replaces the parameter rather than adding one.
  s.versionsKept = 2;
  EXPECT_TRUE(config_.WriteVersioning(s));
  auto* versioning = LoadRoot()->FirstChildElement("folder")->FirstChildElement("versioning");
  EXPECT_EQ(CountChildren(versioning, "param"), 1);
  SyncSettings back;
  EXPECT_TRUE(config_.ReadVersioning(back));
  EXPECT_EQ(back.versionsKept, 2);

  s.versionsKept = 0;
  EXPECT_TRUE(config_.WriteVersioning(s));
  versioning = LoadRoot()->FirstChildElement("folder")->FirstChildElement("versioning");
  EXPECT_EQ(versioning->FirstAttribute(), nullptr);
  EXPECT_EQ(versioning->FirstChild(), nullptr);
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(ConfigFileTest, WritesRoundTripAndLeaveTheRestOfTheFileAlone) {
  UseFixture("config_first_run.xml");
  SyncSettings s;
  s.sendLimit = 300;
  s.receiveLimit = 4000;
  s.folderType = kFolderReceiveOnly;
  s.pullOrder = kPullNewestFirst;
  s.syncFolderPath = L"/home/\u00e9l\u00e8ve/\u540c\u6b65 & <files>";
  EXPECT_TRUE(config_.WriteRateLimits(s));
  EXPECT_TRUE(config_.WriteFolderType(s));
  EXPECT_TRUE(config_.WritePullOrder(s));
  EXPECT_TRUE(config_.WriteFolderPath(s));

  SyncSettings back;
  std::string apiKey;
  EXPECT_TRUE(config_.ReadRateLimits(back));
  EXPECT_TRUE(config_.ReadFolderType(back));
  EXPECT_TRUE(config_.ReadPullOrder(back, false));
  EXPECT_TRUE(config_.ReadFolderPath(back));
  EXPECT_TRUE(config_.ReadApiKey(apiKey));
  EXPECT_EQ(back.sendLimit, 300);
  EXPECT_EQ(back.receiveLimit, 4000);
  EXPECT_EQ(back.folderType, kFolderReceiveOnly);
  EXPECT_EQ(back.pullOrder, kPullNewestFirst);
  EXPECT_EQ(back.syncFolderPath, s.syncFolderPath);
  EXPECT_EQ(apiKey, "Sd7YHpNt79Nmzb4o3oFL4RhTUKiQMVvs");

  // Only the written values differ from the engine's file: the per-device
  // maxSendKbps and the folder's other attributes are untouched.
  auto* root = LoadRoot();
  EXPECT_STREQ(root->FirstChildElement("device")->FirstChildElement("maxSendKbps")->GetText(), "0");
  EXPECT_STREQ(root->FirstChildElement("folder")->Attribute("label"), "Default Folder");
  EXPECT_STREQ(root->FirstChildElement("options")->FirstChildElement("listenAddress")->GetText(), "default");
  EXPECT_EQ(CountChildren(root, "device"), 1);
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(ConfigFileTest, WritesNeverCreateMissingElements) {
  const std::string bare = "<configuration>\n    <folder id=\"f\"/>\n    <options/>\n    <gui/>\n</configuration>\n";
  UseText(bare);
  SyncSettings s;
  s.versionsKept = 5;
  s.pullOrder = kPullAlphabetic;
  s.sendLimit = 10;
  EXPECT_FALSE(config_.WriteVersioning(s));
  EXPECT_FALSE(config_.WritePullOrder(s));
  EXPECT_EQ(ReadText(configPath_), bare);
  // The limits' parent exists: saved, but neither limit appears.
  EXPECT_TRUE(config_.WriteRateLimits(s));
  EXPECT_EQ(LoadRoot()->FirstChildElement("options")->FirstChildElement(), nullptr);

  UseText("<configuration><gui/></configuration>");
  EXPECT_FALSE(config_.WriteFolderType(s));
  EXPECT_FALSE(config_.WriteFolderPath(s));
  EXPECT_FALSE(config_.WriteRateLimits(s));
  EXPECT_EQ(ReadText(configPath_), "<configuration><gui/></configuration>");
  EXPECT_TRUE(presenter_.shown.empty());  // missing elements are not load failures

  // Values that have no word in the file are refused.
  UseText(kSmallConfig);
  s.folderType = 3;
  s.pullOrder = -1;
  EXPECT_FALSE(config_.WriteFolderType(s));
  EXPECT_FALSE(config_.WritePullOrder(s));
  EXPECT_EQ(ReadText(configPath_), kSmallConfig);
}

TEST_F(ConfigFileTest, WritesToAnUnloadableFileShowTheMessage) {
  UseText("<configuration><folder>");
  SyncSettings s;
  EXPECT_FALSE(config_.WriteVersioning(s));
  EXPECT_FALSE(config_.WriteFolderType(s));
  EXPECT_FALSE(config_.WritePullOrder(s));
  EXPECT_FALSE(config_.WriteRateLimits(s));
  EXPECT_FALSE(config_.WriteFolderPath(s));
  ASSERT_EQ(presenter_.shown.size(), 5u);
  EXPECT_EQ(presenter_.shown.back().key, L"SyncConfig_Damaged_Msg");
  EXPECT_EQ(ReadText(configPath_), "<configuration><folder>");
}

TEST_F(ConfigFileTest, RegistrationSharesTheFolderWithTheServerOnce) {
  UseFixture("config_first_run.xml");
  for (int login = 0; login < 2; ++login) {
    SCOPED_TRACE(login);
    ASSERT_EQ(config_.RegisterServer(L"alice", kServerId), RegistrationResult::kRegistered);
    auto* root = LoadRoot();
    auto* folder = root->FirstChildElement("folder");
    EXPECT_EQ(std::string(folder->Attribute("id")), std::string("alice") + kServerId);

    // The folder's sharer follows the engine's own device entry.
    ASSERT_EQ(CountChildren(folder, "device"), 2);
    auto* own = folder->FirstChildElement("device");
    EXPECT_STREQ(own->Attribute("id"), kOwnId);
    auto* sharer = own->NextSiblingElement();
    ASSERT_NE(sharer, nullptr);
    EXPECT_STREQ(sharer->Name(), "device");
    EXPECT_STREQ(sharer->Attribute("id"), kServerId);
    EXPECT_STREQ(sharer->Attribute("introducedBy"), "");

    // The server's device comes directly after the folder, attributes in order.
    ASSERT_EQ(CountChildren(root, "device"), 2);
    auto* device = folder->NextSiblingElement();
    ASSERT_STREQ(device->Name(), "device");
    std::vector<std::pair<std::string, std::string>> attributes;
    for (auto* a = device->FirstAttribute(); a; a = a->Next()) attributes.emplace_back(a->Name(), a->Value());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"id", kServerId},       {"name", "Orlin"},
        {"compression", "metadata"}, {"introducer", "true"},
        {"skipIntroductionRemovals", "false"}, {"introducedBy", ""}};
    EXPECT_EQ(attributes, expected);
    auto* address = device->FirstChildElement();
    ASSERT_NE(address, nullptr);
    EXPECT_STREQ(address->Name(), "address");
    EXPECT_STREQ(address->GetText(), "dynamic");
    auto* paused = address->NextSiblingElement();
    ASSERT_NE(paused, nullptr);
    EXPECT_STREQ(paused->Name(), "paused");
    EXPECT_STREQ(paused->GetText(), "false");
    EXPECT_EQ(paused->NextSiblingElement(), nullptr);
    EXPECT_STREQ(device->NextSiblingElement()->Attribute("id"), kOwnId);

    // The marker is the login's to write, whole.
    EXPECT_FALSE(fs::exists(markerPath_));
  }
  EXPECT_EQ(ReadFolderIdentifier(configPath_), std::string("alice") + kServerId);
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(ConfigFileTest, RegistrationOfAFolderWithoutDevicesAppendsTheSharer) {
  UseText("<configuration><folder id='x'><order>random</order></folder><gui/><options/></configuration>");
  ASSERT_EQ(config_.RegisterServer(L"\u5f20\u4e09", kServerId), RegistrationResult::kRegistered);
  auto* folder = LoadRoot()->FirstChildElement("folder");
  EXPECT_STREQ(folder->LastChildElement()->Name(), "device");
  EXPECT_EQ(std::string(folder->Attribute("id")), std::string("\xe5\xbc\xa0\xe4\xb8\x89") + kServerId);
  EXPECT_EQ(ReadFolderIdentifier(configPath_), std::string("\xe5\xbc\xa0\xe4\xb8\x89") + kServerId);
}

TEST_F(ConfigFileTest, AWriteLeavesAFileWithTextAfterItsRootReadable) {
  // tinyxml2 reads text after the root when a tag follows it, but not once
  // it ends the file, where a save would have put it
  // (fuzz/corpus/config_xml/text-after-root.xml).
  UseText(std::string(kSmallConfig) + "junk</x>\n");
  ASSERT_EQ(InspectConfigFile(configPath_), ConfigFileState::kReadable);
  SyncSettings settings;
  settings.folderType = kFolderReceiveOnly;
  ASSERT_TRUE(config_.WriteFolderType(settings));
  EXPECT_EQ(InspectConfigFile(configPath_), ConfigFileState::kReadable);
  ASSERT_EQ(config_.RegisterServer(L"anna", kServerId), RegistrationResult::kRegistered);
  EXPECT_EQ(InspectConfigFile(configPath_), ConfigFileState::kReadable);
  EXPECT_EQ(ReadFolderIdentifier(configPath_), std::string("anna") + kServerId);
  EXPECT_EQ(ReadText(configPath_).find("junk"), std::string::npos);
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(ConfigFileTest, RegistrationRefusesWhatTheEngineCouldNotStartWith) {
  UseFixture("config_first_run.xml");
  const std::string before = ReadText(configPath_);
  const std::string good = kServerId;
  const std::vector<std::string> bad = {
      "",
      good.substr(0, 62),
      good + "A",
      "mfzwi3d-bonsgyc-yltmrwg-c43enr5-qxgzdmm-fzwi3dp-bonsgyy-ltmrwad",  // lower case
      "MFZWI3D1BONSGYC-YLTMRWG-C43ENR5-QXGZDMM-FZWI3DP-BONSGYY-LTMRWAD",  // dash replaced
      "MFZWI31-BONSGYC-YLTMRWG-C43ENR5-QXGZDMM-FZWI3DP-BONSGYY-LTMRWAD",  // '1' is not base32
      "MFZWI3DBONSGYCYLTMRWGC43ENR5QXGZDMMFZWI3DPBONSGYYLTMRWAD-------",  // right length, wrong groups
      "Failed: wrong password, please try again with the right one!!!!",  // a server refusal
  };
  for (const auto& id : bad) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(IsWellFormedDeviceId(id));
    EXPECT_EQ(config_.RegisterServer(L"alice", id), RegistrationResult::kInvalidDeviceId);
  }
  EXPECT_EQ(ReadText(configPath_), before);
  EXPECT_FALSE(fs::exists(markerPath_));
  EXPECT_TRUE(IsWellFormedDeviceId(std::string_view(kServerId)));
  EXPECT_TRUE(IsWellFormedDeviceId(std::wstring_view(L"AAAAAAA-BBBBBBB-CCCCCCC-DDDDDDD-EEEEEEE-FFFFFFF-GGGGGGG-2345677")));
  EXPECT_FALSE(IsWellFormedDeviceId(std::wstring_view(L"AAAAAAA-BBBBBBB-CCCCCCC-DDDDDDD-EEEEEEE-FFFFFFF-GGGGGGG-234567\u00c4")));
}

TEST_F(ConfigFileTest, RegistrationWithoutAUsableConfigurationWritesNothing) {
  EXPECT_EQ(config_.RegisterServer(L"alice", kServerId), RegistrationResult::kConfigUnreadable);
  EXPECT_FALSE(fs::exists(configPath_));
  UseText("<configuration><options/><gui/></configuration>");
  EXPECT_EQ(config_.RegisterServer(L"alice", kServerId), RegistrationResult::kConfigUnreadable);
  // Cut short or junk: damaged, and left as it is.
  const std::string damaged[] = {std::string("<configuration><folder>"), std::string("\x01\xff\x00junk", 7)};
  for (const std::string& text : damaged) {
    UseText(text);
    EXPECT_EQ(config_.RegisterServer(L"alice", kServerId), RegistrationResult::kConfigDamaged);
    EXPECT_EQ(ReadText(configPath_), text);
  }
  EXPECT_FALSE(fs::exists(markerPath_));
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST(ConfigFolderIdentifier, IsEmptyWhenThereIsNone) {
  testsupport::TempDir dir;
  EXPECT_EQ(ReadFolderIdentifier(dir.path() / "missing.xml"), "");
  ASSERT_FALSE(WriteFileAtomically(dir.path() / "a.xml", "<configuration><options/></configuration>"));
  EXPECT_EQ(ReadFolderIdentifier(dir.path() / "a.xml"), "");
  ASSERT_FALSE(WriteFileAtomically(dir.path() / "b.xml", "<configuration><folder id="));
  EXPECT_EQ(ReadFolderIdentifier(dir.path() / "b.xml"), "");
}

}  // namespace
}  // namespace orlin
