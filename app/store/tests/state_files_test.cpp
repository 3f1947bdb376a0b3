#include "app/store/state_files.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <thread>

#include "app/store/state_cipher.h"
#include "app/store/tests/state_test_fakes.h"
#include "common/atomic_file.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using testing::RecordingPresenter;
using testing::RecordingWindow;
using testing::ShownMessage;
using testing::WindowCall;

constexpr char kLangXml[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>en</lang>\n</Orlin>\n";
constexpr char kUserConfigXml[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<users>\n"
    "    <user name=\"bob\" path=\"/data/bob\" default=\"true\"/>\n"
    "    <user name=\"bob\" path=\"/data/bob-second\" default=\"false\"/>\n"
    "    <member name=\"carol\" path=\"/data/shared\" default=\"false\"/>\n"
    "</users>\n";

std::string SettingXml(const std::string& dpi, const std::string& style = "false") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <General>\n        <DPI>" + dpi +
         "</DPI>\n        <WndStyles>" + style + "</WndStyles>\n    </General>\n</Orlin>\n";
}

std::string Read(const fs::path& file) {
  std::string text;
  EXPECT_TRUE(ReadWholeFile(file, text)) << file;
  return text;
}

class StateFilesTest : public ::testing::Test {
 protected:
  StateFilesTest() : layout_{dir_.path()}, files_(layout_, presenter_, &window_) {}

  void Put(const fs::path& file, std::string_view text) { ASSERT_FALSE(WriteFileAtomically(file, text)); }

  std::vector<ShownMessage> Messages() const { return presenter_.messages; }

  // Attributes of the root's child elements, in document order.
  std::vector<std::vector<std::pair<std::string, std::string>>> UserElements() {
    tinyxml2::XMLDocument doc;
    const std::string text = Read(layout_.UserConfig());
    EXPECT_EQ(doc.Parse(text.c_str()), tinyxml2::XML_SUCCESS);
    std::vector<std::vector<std::pair<std::string, std::string>>> users;
    for (auto* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
      auto& attrs = users.emplace_back();
      for (auto* a = e->FirstAttribute(); a; a = a->Next()) attrs.emplace_back(a->Name(), a->Value());
    }
    return users;
  }

  testsupport::TempDir dir_;
  InstallLayout layout_;
  RecordingPresenter presenter_;
  RecordingWindow window_;
  StateFiles files_;
};

// --- setting.xml ---------------------------------------------------------------

TEST_F(StateFilesTest, DpiIsClampedOnReading) {
  Put(layout_.SettingFile(), SettingXml("250"));
  EXPECT_EQ(files_.ReadDpi(120), 192);
  Put(layout_.SettingFile(), SettingXml("50"));
  EXPECT_EQ(files_.ReadDpi(120), 96);
  Put(layout_.SettingFile(), SettingXml(" 144 "));
  EXPECT_EQ(files_.ReadDpi(120), 144);
  // Not a number, or no element: the value in memory stays.
  Put(layout_.SettingFile(), SettingXml("large"));
  EXPECT_EQ(files_.ReadDpi(120), 120);
  Put(layout_.SettingFile(), "<Orlin><General/></Orlin>");
  EXPECT_EQ(files_.ReadDpi(120), 120);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StateFilesTest, UnloadableSettingFileReadsAsDefaultsAndTellsTheUser) {
  EXPECT_EQ(files_.ReadDpi(144), 96);
  EXPECT_TRUE(files_.ReadTaskbarStyle(true));  // kept
  Put(layout_.SettingFile(), "<Orlin><General>");  // not well-formed
  EXPECT_EQ(files_.ReadDpi(144), 96);
  EXPECT_FALSE(files_.WriteDpi(120, true));
  EXPECT_FALSE(files_.WriteTaskbarStyle(true));
  const ShownMessage expected{L"Orlin", L"Setting_Failed_Msg", false};
  EXPECT_EQ(Messages(), std::vector<ShownMessage>(5, expected));
  EXPECT_TRUE(window_.calls.empty());
}

TEST_F(StateFilesTest, DpiOutsideTheRangeIsNotWritten) {
  const std::string original = SettingXml("120");
  Put(layout_.SettingFile(), original);
  EXPECT_FALSE(files_.WriteDpi(200, true));
  EXPECT_FALSE(files_.WriteDpi(95, true));
  EXPECT_EQ(Read(layout_.SettingFile()), original);
  EXPECT_TRUE(window_.calls.empty());
}

TEST_F(StateFilesTest, WritingDpiSavesAndNotifiesTheMainWindow) {
  Put(layout_.SettingFile(), SettingXml("96", "true"));
  ASSERT_TRUE(files_.WriteDpi(144, true));
  EXPECT_EQ(files_.ReadDpi(96), 144);
  EXPECT_TRUE(files_.ReadTaskbarStyle(false));  // the other element is untouched
  const std::vector<WindowCall> expected{{true, kMsgDpi, 144, 0}, {false, kMsgDpi, 144, 1}};
  EXPECT_EQ(window_.calls, expected);

  window_.calls.clear();
  ASSERT_TRUE(files_.WriteDpi(192, false));
  EXPECT_EQ(files_.ReadDpi(96), 192);
  EXPECT_TRUE(window_.calls.empty());

  // No main window yet: saved, nobody to tell.
  StateFiles windowless(layout_, presenter_, nullptr);
  ASSERT_TRUE(windowless.WriteDpi(120, true));
  EXPECT_EQ(files_.ReadDpi(96), 120);
}

TEST_F(StateFilesTest, MissingElementsAreNotCreated) {
  Put(layout_.SettingFile(), "<Orlin>\n    <General/>\n</Orlin>\n");
  EXPECT_TRUE(files_.WriteDpi(120, false));
  EXPECT_TRUE(files_.WriteTaskbarStyle(true));
  EXPECT_EQ(Read(layout_.SettingFile()).find("DPI"), std::string::npos);
  EXPECT_EQ(Read(layout_.SettingFile()).find("WndStyles"), std::string::npos);
  EXPECT_FALSE(files_.ReadTaskbarStyle(true));  // missing reads as false

  Put(layout_.LangFile(), "<Orlin/>");
  EXPECT_TRUE(files_.WriteLanguage(L"zh_cn"));
  EXPECT_EQ(Read(layout_.LangFile()).find("lang"), std::string::npos);
}

TEST_F(StateFilesTest, TaskbarStyleIsSavedThenHandedToTheWindowLayer) {
  Put(layout_.SettingFile(), SettingXml("96", "false"));
  std::vector<bool> handled;
  files_.SetTaskbarStyleHandler([&](bool hide) {
    // The flag is already on disk when the window layer hears of it.
    EXPECT_EQ(files_.ReadTaskbarStyle(!hide), hide);
    handled.push_back(hide);
  });
  ASSERT_TRUE(files_.WriteTaskbarStyle(true));
  ASSERT_TRUE(files_.WriteTaskbarStyle(false));
  EXPECT_EQ(handled, (std::vector<bool>{true, false}));
}

// --- lang.xml --------------------------------------------------------------------

TEST_F(StateFilesTest, LanguageChangeIsSavedAndSentToTheMainWindow) {
  Put(layout_.LangFile(), kLangXml);
  EXPECT_EQ(files_.ReadLanguage(), L"en");
  ASSERT_TRUE(files_.WriteLanguage(L"zh_cn"));
  EXPECT_EQ(files_.ReadLanguage(), L"zh_cn");
  EXPECT_EQ(ReadLanguageFile(dir_.path()), L"zh_cn");
  ASSERT_TRUE(files_.WriteLanguage(L"en"));
  const std::vector<WindowCall> expected{{true, kMsgLanguageChanged, 1, 0}, {true, kMsgLanguageChanged, 0, 0}};
  EXPECT_EQ(window_.calls, expected);
  // Saved indented, the way it was shipped.
  EXPECT_NE(Read(layout_.LangFile()).find("\n    <lang>en</lang>\n"), std::string::npos);
}

TEST_F(StateFilesTest, UnloadableLanguageFileKeepsTheOldValue) {
  EXPECT_EQ(files_.ReadLanguage(), std::nullopt);
  EXPECT_FALSE(files_.WriteLanguage(L"en"));
  EXPECT_EQ(Messages(), std::vector<ShownMessage>(2, ShownMessage{L"Orlin", L"Lang_Failed_Msg", true}));
  EXPECT_TRUE(window_.calls.empty());
  EXPECT_FALSE(fs::exists(layout_.LangFile()));
  // The windows' own read is silent.
  EXPECT_EQ(ReadLanguageFile(dir_.path()), std::nullopt);
  EXPECT_EQ(Messages().size(), 2u);
}

// --- userconfig.xml --------------------------------------------------------------

TEST_F(StateFilesTest, FirstEntryOfADuplicatedNameIsReadAndWritten) {
  Put(layout_.UserConfig(), kUserConfigXml);
  EXPECT_EQ(files_.ReadUserEntry(L"bob"), (UserEntry{L"/data/bob", true}));
  // Any element below the root is a user entry.
  EXPECT_EQ(files_.ReadUserEntry(L"carol"), (UserEntry{L"/data/shared", false}));
  // Names compare case-sensitively.
  EXPECT_EQ(files_.ReadUserEntry(L"Bob"), std::nullopt);

  ASSERT_TRUE(files_.WriteUserPath(L"bob", L"/new/bob"));
  ASSERT_TRUE(files_.WriteUserDefault(L"bob", false));
  const auto users = UserElements();
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(users[0][1].second, "/new/bob");
  EXPECT_EQ(users[0][2].second, "false");
  EXPECT_EQ(users[1][1].second, "/data/bob-second");
  EXPECT_EQ(users[1][2].second, "false");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StateFilesTest, LoginAppendsAnEntryOnceThenUpdatesIt) {
  Put(layout_.UserConfig(), kUserConfigXml);
  ASSERT_TRUE(files_.WriteUserEntry(L"dave", {L"/home/dave/Tarn  Sync & more", false}));
  auto users = UserElements();
  ASSERT_EQ(users.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> appended{
      {"name", "dave"}, {"path", "/home/dave/Tarn  Sync & more"}, {"default", "false"}};
  EXPECT_EQ(users[3], appended);
  EXPECT_EQ(files_.ReadUserEntry(L"dave"), (UserEntry{L"/home/dave/Tarn  Sync & more", false}));

  ASSERT_TRUE(files_.WriteUserEntry(L"dave", {L"/srv/dave", true}));
  users = UserElements();
  ASSERT_EQ(users.size(), 4u);
  EXPECT_EQ(users[3][1].second, "/srv/dave");
  EXPECT_EQ(users[3][2].second, "true");
  EXPECT_TRUE(files_.UserHasDefault(L"dave"));
}

TEST_F(StateFilesTest, SingleAttributeWritesNeverAddAnEntry) {
  Put(layout_.UserConfig(), kUserConfigXml);
  EXPECT_TRUE(files_.WriteUserPath(L"erin", L"/data/erin"));
  EXPECT_TRUE(files_.WriteUserDefault(L"erin", true));
  EXPECT_EQ(UserElements().size(), 3u);
  EXPECT_EQ(files_.ReadUserEntry(L"erin"), std::nullopt);
}

TEST_F(StateFilesTest, NonAsciiNamesAndPathsSurvive) {
  Put(layout_.UserConfig(), "<users/>");
  const std::wstring name = L"\u674E\u660E";
  const std::wstring path = L"/data/\u540C\u6B65 \"q\" <x>";
  ASSERT_TRUE(files_.WriteUserEntry(name, {path, true}));
  EXPECT_EQ(files_.ReadUserEntry(name), (UserEntry{path, true}));
  EXPECT_TRUE(files_.IsPathTakenByAnotherUser(path, L"other"));
}

TEST_F(StateFilesTest, PathIsTakenOnlyUnderAnotherName) {
  Put(layout_.UserConfig(), kUserConfigXml);
  EXPECT_TRUE(files_.IsPathTakenByAnotherUser(L"/data/shared", L"bob"));
  EXPECT_FALSE(files_.IsPathTakenByAnotherUser(L"/data/shared", L"carol"));
  EXPECT_FALSE(files_.IsPathTakenByAnotherUser(L"/data/bob-second", L"bob"));
  EXPECT_FALSE(files_.IsPathTakenByAnotherUser(L"/data/Shared", L"bob"));
  EXPECT_FALSE(files_.IsPathTakenByAnotherUser(L"/nowhere", L"bob"));
  EXPECT_TRUE(files_.UserHasDefault(L"bob"));
  EXPECT_FALSE(files_.UserHasDefault(L"carol"));
  EXPECT_FALSE(files_.UserHasDefault(L"nobody"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StateFilesTest, UnloadableUserConfigShowsTheKeyOfEachOperation) {
  EXPECT_EQ(files_.ReadUserEntry(L"bob"), std::nullopt);
  EXPECT_FALSE(files_.UserHasDefault(L"bob"));
  EXPECT_FALSE(files_.WriteUserEntry(L"bob", {L"/p", true}));
  EXPECT_FALSE(files_.WriteUserPath(L"bob", L"/p"));
  EXPECT_FALSE(files_.WriteUserDefault(L"bob", true));
  EXPECT_FALSE(files_.IsPathTakenByAnotherUser(L"/p", L"bob"));
  const ShownMessage read{L"Orlin", L"UserConfig_Failed_Msg", false};
  const ShownMessage write{L"Orlin", L"Userconfig_Failed_Msg", true};
  EXPECT_EQ(Messages(), (std::vector<ShownMessage>{read, read, write, write, write, write}));
  // The file is never created, not even by a write.
  EXPECT_FALSE(fs::exists(layout_.UserConfig()));

  // A document without a root element cannot be used either.
  Put(layout_.UserConfig(), "<?xml version=\"1.0\"?>\n");
  EXPECT_FALSE(files_.WriteUserEntry(L"bob", {L"/p", true}));
  EXPECT_EQ(Messages().size(), 7u);
}

// A userconfig.xml that is there but cut short (or junk) is reported as
// damaged by every operation, each with its own Cancel button, and nothing
// writes over it.
TEST_F(StateFilesTest, ADamagedUserConfigIsNamedAsDamagedAndLeftAsItIs) {
  const std::string cut = std::string(kUserConfigXml).substr(0, 90);
  for (const std::string& content : {cut, std::string("\x89PNG\r\n\x1a\n\0\0", 10)}) {
    presenter_.messages.clear();
    Put(layout_.UserConfig(), content);
    EXPECT_EQ(files_.ReadUserEntry(L"bob"), std::nullopt);
    EXPECT_FALSE(files_.UserHasDefault(L"bob"));
    EXPECT_FALSE(files_.WriteUserEntry(L"bob", {L"/p", true}));
    EXPECT_FALSE(files_.WriteUserPath(L"bob", L"/p"));
    EXPECT_FALSE(files_.WriteUserDefault(L"bob", true));
    EXPECT_FALSE(files_.IsPathTakenByAnotherUser(L"/p", L"bob"));
    const ShownMessage read{L"Orlin", L"UserConfig_Damaged_Msg", false};
    const ShownMessage write{L"Orlin", L"UserConfig_Damaged_Msg", true};
    EXPECT_EQ(Messages(), (std::vector<ShownMessage>{read, read, write, write, write, write}));
    EXPECT_EQ(Read(layout_.UserConfig()), content);
  }
}

TEST_F(StateFilesTest, TheServerFingerprintIsKeptOwnerOnlyAndRemovedWhenEmpty) {
  EXPECT_EQ(files_.ReadServerFingerprint(), "");
  fs::create_directories(layout_.EngineHome());
  const std::string fingerprint(64, 'e');
  ASSERT_TRUE(files_.WriteServerFingerprint(fingerprint));
  EXPECT_EQ(files_.ReadServerFingerprint(), fingerprint);
  if (testsupport::kPosixFileModes) {
    EXPECT_TRUE(testsupport::OwnerOnly(layout_.ServerCertificate()));
  }
  ASSERT_TRUE(files_.WriteServerFingerprint(""));
  EXPECT_FALSE(fs::exists(layout_.ServerCertificate()));
  EXPECT_TRUE(files_.WriteServerFingerprint(""));  // nothing to remove is no failure
  // An emptied file still refuses every certificate.
  Put(layout_.ServerCertificate(), "");
  EXPECT_NE(files_.ReadServerFingerprint(), "");
}

TEST_F(StateFilesTest, ConcurrentWritersLoseNoEntry) {
  // The login worker and the settings apply may update the file at once;
  // each update reads, changes and saves the whole document.
  Put(layout_.UserConfig(), "<users/>");
  constexpr int kPerThread = 15;
  auto writer = [this](wchar_t prefix) {
    for (int i = 0; i < kPerThread; ++i) {
      EXPECT_TRUE(files_.WriteUserEntry(std::wstring(1, prefix) + std::to_wstring(i), {L"/p", false}));
    }
  };
  std::thread a(writer, L'a'), b(writer, L'b');
  a.join();
  b.join();
  EXPECT_EQ(UserElements().size(), 2u * kPerThread);
}

TEST_F(StateFilesTest, SavingLeavesNoTemporaryFilesAndKeepsEntities) {
  Put(layout_.UserConfig(), "<users>\n    <user name=\"a&amp;b\" path=\"x&#x4E2D;\" default=\"false\"/>\n</users>\n");
  EXPECT_EQ(files_.ReadUserEntry(L"a&b"), (UserEntry{L"x\u4E2D", false}));
  ASSERT_TRUE(files_.WriteUserDefault(L"a&b", true));
  EXPECT_EQ(files_.ReadUserEntry(L"a&b"), (UserEntry{L"x\u4E2D", true}));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.path())) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"userconfig.xml"});
}

TEST_F(StateFilesTest, AWriteLeavesAFileWithTextAfterItsRootReadable) {
  // tinyxml2 reads text after the root when a tag follows it, but not once
  // it ends the file, where a save would have put it
  // (fuzz/corpus/state_xml/text-after-root.xml).
  Put(layout_.UserConfig(), "<users>\n    <user name=\"bob\" path=\"/data/bob\" default=\"true\"/>\n</users>\njunk</x>\n");
  ASSERT_EQ(files_.ReadUserEntry(L"bob"), (UserEntry{L"/data/bob", true}));
  ASSERT_TRUE(files_.WriteUserDefault(L"bob", false));
  EXPECT_EQ(files_.ReadUserEntry(L"bob"), (UserEntry{L"/data/bob", false}));
  Put(layout_.LangFile(), std::string(kLangXml) + "junk</x>");
  ASSERT_TRUE(files_.WriteLanguage(L"zh_cn"));
  EXPECT_EQ(files_.ReadLanguage(), L"zh_cn");
  EXPECT_TRUE(Messages().empty());
}

// --- .stignore ---------------------------------------------------------------------

TEST_F(StateFilesTest, IgnoreFileIsCreatedEmptyWhenMissing) {
  const fs::path folder = dir_.path() / "Sync";
  fs::create_directory(folder);
  EXPECT_EQ(files_.ReadIgnoreText(folder), L"");
  EXPECT_TRUE(fs::exists(folder / ".stignore"));
  EXPECT_EQ(Read(folder / ".stignore"), "");
}

TEST_F(StateFilesTest, IgnoreTextDropsEmptyLines) {
  const fs::path folder = dir_.path();
  Put(folder / ".stignore", "\xEF\xBB\xBFphotos\n\n\ndocs\\old\n\xE6\x96\x87\xE4\xBB\xB6");
  EXPECT_EQ(files_.ReadIgnoreText(folder), L"photos\ndocs\\old\n\u6587\u4EF6\n");
}

TEST_F(StateFilesTest, ShorterIgnoreTextReplacesTheWholeFile) {
  const fs::path folder = dir_.path();
  Put(folder / ".stignore", "a very long first pattern\nanother long pattern\nthird\n");
  ASSERT_TRUE(files_.WriteIgnoreText(folder, L"b\n\u6587\n"));
  EXPECT_EQ(Read(folder / ".stignore"), "b\n\xE6\x96\x87\n");
  // Every line ends in a single line feed, the last one too.
  ASSERT_TRUE(files_.WriteIgnoreText(folder, L"/"));
  EXPECT_EQ(Read(folder / ".stignore"), "/\n");
  ASSERT_TRUE(files_.WriteIgnoreText(folder, L""));
  EXPECT_EQ(Read(folder / ".stignore"), "");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StateFilesTest, IgnoreWriterNeverCreatesTheFile) {
  const fs::path folder = dir_.path() / "Sync";
  fs::create_directory(folder);
  EXPECT_FALSE(files_.WriteIgnoreText(folder, L"x\n"));
  EXPECT_FALSE(fs::exists(folder / ".stignore"));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].title, L"Orlin");
  EXPECT_FALSE(Messages()[0].showCancel);
  // The system's own text for the error, not a message key.
  EXPECT_FALSE(Messages()[0].key.empty());
  EXPECT_EQ(Messages()[0].key.find(L"_Msg"), std::wstring::npos);
}

TEST_F(StateFilesTest, IgnoreReadFailureIsShownAndKeepsTheOldText) {
  // The sync folder does not exist: the file cannot be created.
  EXPECT_EQ(files_.ReadIgnoreText(dir_.path() / "gone"), std::nullopt);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_FALSE(Messages()[0].showCancel);
  // No sync folder known yet: nothing to read, nothing to tell.
  EXPECT_EQ(files_.ReadIgnoreText({}), std::nullopt);
  EXPECT_EQ(Messages().size(), 1u);
}

// --- marker and account archive -------------------------------------------------------

TEST_F(StateFilesTest, MarkerHoldsThreeScrambledLines) {
  fs::create_directories(layout_.EngineHome());
  EXPECT_FALSE(files_.MarkerExists());
  const MarkerLines lines{L"nas.example.org", L"alice", L"p\u00E4ss word"};
  ASSERT_TRUE(files_.CreateMarker(lines));
  EXPECT_TRUE(files_.MarkerExists());

  const std::string content = Read(layout_.Marker());
  const std::string first = StateCipher::Scramble(lines.server, StateCipher::kServerKey);
  const std::string second = StateCipher::Scramble(lines.userName, StateCipher::kUserKey);
  const std::string third = StateCipher::Scramble(lines.password, StateCipher::kPasswordKey);
  EXPECT_EQ(content, first + "\r\n" + second + "\r\n" + third);
  EXPECT_TRUE(std::all_of(content.begin(), content.end(),
                          [](char c) { return (c >= 'A' && c <= 'Z') || c == '\r' || c == '\n'; }));
  EXPECT_EQ(files_.ReadMarker(), lines);

  // Bare line feeds are read too.
  Put(layout_.Marker(), first + "\n" + second + "\n" + third + "\n");
  EXPECT_EQ(files_.ReadMarker(), lines);
#ifndef _WIN32
  ASSERT_TRUE(files_.CreateMarker(lines));
  EXPECT_EQ(fs::status(layout_.Marker()).permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);
#endif
}

TEST_F(StateFilesTest, EmptyPasswordAndBrokenMarkers) {
  fs::create_directories(layout_.EngineHome());
  ASSERT_TRUE(files_.CreateMarker({L"s", L"u", L""}));
  EXPECT_EQ(files_.ReadMarker(), (MarkerLines{L"s", L"u", L""}));

  Put(layout_.Marker(), "");  // the empty marker the engine registration leaves
  EXPECT_TRUE(files_.MarkerExists());
  EXPECT_EQ(files_.ReadMarker(), std::nullopt);
  Put(layout_.Marker(), "AB\r\nCD");
  EXPECT_EQ(files_.ReadMarker(), std::nullopt);
  Put(layout_.Marker(), "AB\r\nCD\r\nlower");
  EXPECT_EQ(files_.ReadMarker(), std::nullopt);
}

TEST_F(StateFilesTest, AccountArchiveThroughTheController) {
  EXPECT_EQ(files_.ReadAccountArchive(), AccountArchive{});
  EXPECT_FALSE(files_.WriteAccountArchive({L"alice", L"nas"}));  // no engine home yet
  fs::create_directories(layout_.EngineHome());
  ASSERT_TRUE(files_.WriteAccountArchive({L"alice", L"nas"}));
  EXPECT_EQ(files_.ReadAccountArchive(), (AccountArchive{L"alice", L"nas"}));
}

}  // namespace
}  // namespace orlin
