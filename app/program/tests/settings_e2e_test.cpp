// The settings end to end: the built program with its real engine and the
// Tarn server stand-in (with its own engine playing the NAS) in the test's
// private network, on a virtual display, driven through orlin-ctl.
//
//  - A change of only the language writes lang.xml and leaves the engine
//    alone.
//  - Limits, folder type, pull order and kept versions changed in the
//    settings window are in config.xml and in the engine's own configuration
//    after the apply (and stay after the engine's refresh and resume); the
//    stand-in keeps the new number of versions.
//  - Selective sync: the excluded NAS folder's new files never arrive, the
//    other folder's do; .stignore holds exactly the excluded entry.
//  - Moving the sync folder copies its content with the copy window shown,
//    and a file made on the NAS afterwards arrives in the new place.
//
// The program runs in a process namespace of its own, so its start-up (which
// stops every engine it sees) touches no other test's engine.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/program_session.h"
#include "tests/support/rest_probe.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SettingsEndToEnd : public testsupport::ProgramSession {
 protected:
  void SetUp() override {
    SetUpProgram({.programDir = ORLIN_PROGRAM_DIR,
                  .ctl = ORLIN_CTL_PATH,
                  .display = testsupport::ProgramDisplay::kVirtual,
                  .english = true,
                  .account = "ann:ann-password",
                  .signInWith = ORLIN_CLI_PATH});
  }

  // The settings window on its configuration page, from the toolbar.
  void OpenSettings() {
    Must("click UIOrlinFrameWnd PREFERENCESBTN");
    ASSERT_TRUE(WaitWindow("UISetWnd"));
  }
  // OK, and the window gone.
  void ConfirmSettings() {
    Must("click UISetWnd OKBTN");
    ASSERT_TRUE(WaitUntil([&] { return !WindowListed("UISetWnd"); }, "the settings window to close"));
  }

  std::string ApiKey() { return install->ReadApiKey().value_or(""); }
  std::string EngineConfig() {
    return testsupport::RestGet(testsupport::kEngineRestPort, "/rest/system/config", ApiKey()).body;
  }
  std::string EngineStartTime() {
    const std::string status = testsupport::RestGet(testsupport::kEngineRestPort, "/rest/system/status", ApiKey()).body;
    const std::string key = "\"startTime\": \"";
    const auto at = status.find(key);
    if (at == std::string::npos) return "";
    return status.substr(at + key.size(), status.find('"', at + key.size()) - at - key.size());
  }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
  // The engine runs the folder again (the apply paused it).
  bool EngineRunsFolder() {
    const std::string config = EngineConfig();
    return !config.empty() && Has(config, "\"paused\": false") && !Has(config, "\"paused\": true");
  }
};

TEST_F(SettingsEndToEnd, LanguageEngineValuesSelectiveSyncAndAFolderMove) {
  fs::create_directories(NasFolder() / "keep");
  fs::create_directories(NasFolder() / "skip");
  std::ofstream(NasFolder() / "keep" / "k1.txt") << "keep 1";
  std::ofstream(NasFolder() / "skip" / "s1.txt") << "skip 1";
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date"));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "skip" / "s1.txt") && fs::exists(Folder() / "keep" / "k1.txt"); },
                        "the NAS folders to arrive"));

  // --- The language alone: lang.xml, and no engine command.
  const std::string startedAt = EngineStartTime();
  const std::string configBefore = ReadFile(install->layout().EngineConfig());
  ASSERT_FALSE(startedAt.empty());
  OpenSettings();
  Must("click UISetWnd GENERAL_TAB");
  Must("select UISetWnd LANG_COMBO 1");
  ConfirmSettings();
  ASSERT_TRUE(WaitUntil([&] { return Has(ReadFile(dir() / "lang.xml"), "zh_cn"); }, "lang.xml to say zh_cn"));
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(EngineStartTime(), startedAt) << "the engine was restarted for a language change";
  EXPECT_EQ(ReadFile(install->layout().EngineConfig()), configBefore);
  EXPECT_TRUE(EngineRunsFolder());

  // --- Limits, folder type, pull order, kept versions.
  OpenSettings();
  Must("click UISetWnd GENERAL_TAB");
  Must("select UISetWnd LANG_COMBO 0");  // back to English on the way
  Must("click UISetWnd ORLIN_TAB");
  Must("set UISetWnd DOWNLOADEEDIT 123");
  Must("set UISetWnd UPLOADEEDIT 77");
  Must("select UISetWnd FILETYPE_COMBO 1");
  Must("select UISetWnd FILEPULLORDER_COMBO 1");
  Must("select UISetWnd VERSIONS_COMBO 4");
  ConfirmSettings();
  // The server's answer on the kept versions is shown; the user closes it.
  ASSERT_TRUE(WaitWindow("MsgWnd"));
  Must("click MsgWnd OKBTN");
  ASSERT_TRUE(WaitUntil([&] {
    const std::string file = ReadFile(install->layout().EngineConfig());
    return Has(file, "<maxRecvKbps>123</maxRecvKbps>") && Has(file, "<maxSendKbps>77</maxSendKbps>") &&
           Has(file, "type=\"sendonly\"") && Has(file, "<order>alphabetic</order>") &&
           Has(file, "key=\"keep\" val=\"4\"");
  }, "config.xml to hold the new values"));
  ASSERT_TRUE(WaitUntil([&] {
    const std::string config = EngineConfig();
    return EngineRunsFolder() && Has(config, "\"maxRecvKbps\": 123") && Has(config, "\"maxSendKbps\": 77") &&
           Has(config, "\"type\": \"sendonly\"") && Has(config, "\"order\": \"alphabetic\"") &&
           Has(config, "\"keep\": \"4\"");
  }, "the engine to run the folder with the new values"));
  // Still so a little later: nothing the engine writes afterwards undoes them.
  std::this_thread::sleep_for(3s);
  EXPECT_TRUE(Has(ReadFile(install->layout().EngineConfig()), "<maxRecvKbps>123</maxRecvKbps>"));
  EXPECT_TRUE(Has(EngineConfig(), "\"maxRecvKbps\": 123"));
  // The stand-in took the versions for its copy of the folder.
  EXPECT_TRUE(WaitUntil([&] { return Has(ReadFile(Scratch("nas") / "engine" / "config.xml"), "\"keep\" val=\"4\""); },
                        "the stand-in to keep 4 versions"));
  EXPECT_TRUE(Has(ReadFile(dir() / "lang.xml"), ">en<"));

  // --- Selective sync: skip/ is excluded.
  OpenSettings();
  Must("select UISetWnd FILETYPE_COMBO 0");  // send and receive again
  Must("click UISetWnd TREEDIRBTN");
  ASSERT_TRUE(WaitWindow("UIIgnoredWnd"));
  ASSERT_TRUE(WaitUntil([&] { return Ctl("check UIIgnoredWnd IGNORING_TREEVIEW skip on").exitCode == 0; },
                        "the tree to take the check"));
  Must("shot UIIgnoredWnd " + Quote(Scratch("selective-sync.png").string()));
  Must("click UIIgnoredWnd OKBTN");
  // The folder and its file, counted once the modal window has returned
  // (after the click that closed it).
  EXPECT_TRUE(WaitText("UISetWnd", "FILESFOLDERSLABEL", "( 2 )"));
  ConfirmSettings();
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(Folder() / ".stignore") == "skip\n"; }, ".stignore to hold skip"))
      << "it holds: " << ReadFile(Folder() / ".stignore");
  ASSERT_TRUE(WaitUntil([&] { return EngineRunsFolder() && Has(EngineConfig(), "\"type\": \"sendreceive\""); },
                        "the engine to run the folder again"));
  std::ofstream(NasFolder() / "skip" / "s2.txt") << "skip 2";
  std::ofstream(NasFolder() / "keep" / "k2.txt") << "keep 2";
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "keep" / "k2.txt"); }, "the kept folder's new file"));
  std::this_thread::sleep_for(5s);
  EXPECT_FALSE(fs::exists(Folder() / "skip" / "s2.txt")) << "an excluded folder's new file arrived";
  EXPECT_EQ(ReadFile(Folder() / ".stignore"), "skip\n");

  // --- The sync folder moves; the copy window shows while the content is
  // copied (a large file keeps it up long enough to be seen).
  {
    std::ofstream big(Folder() / "large.bin", std::ios::binary);
    const std::string block(1 << 20, 'L');
    for (int i = 0; i < 300; ++i) big << block;
  }
  const fs::path moved = Scratch("Moved folder");
  fs::create_directories(moved);
  OpenSettings();
  Must("set UISetWnd SYNCPOSEDIT " + Quote(moved.string()));
  std::atomic<bool> copyWindowSeen{false};
  std::atomic<bool> watching{true};
  std::thread watcher([&] {
    while (watching && !copyWindowSeen) {
      if (Ctl("shot UICPWnd " + Quote(Scratch("copy.png").string()), "watch.out").exitCode == 0) copyWindowSeen = true;
    }
  });
  Must("click UISetWnd OKBTN");
  const bool copied = WaitUntil([&] { return fs::exists(moved / "large.bin") && fs::file_size(moved / "large.bin") == 300u << 20; },
                                "the large file in the new folder");
  watching = false;
  watcher.join();
  ASSERT_TRUE(copied);
  EXPECT_TRUE(copyWindowSeen) << "the copy window never showed";
  ASSERT_TRUE(WaitUntil([&] { return Has(ReadFile(install->layout().EngineConfig()), "path=\"" + moved.string() + "\""); },
                        "config.xml to name the new folder"));
  EXPECT_TRUE(WaitUntil([&] { return Has(ReadFile(install->layout().UserConfig()), moved.string()); },
                        "userconfig.xml to name the new folder"));
  EXPECT_TRUE(fs::exists(moved / "keep" / "k2.txt"));
  EXPECT_TRUE(fs::exists(moved / ".stfolder"));
  EXPECT_EQ(ReadFile(moved / ".stignore"), "skip\n");
  ASSERT_TRUE(WaitUntil([&] { return EngineRunsFolder() && Has(EngineConfig(), moved.string()); },
                        "the engine to run the folder in its new place"));
  EXPECT_TRUE(WaitUntil([&] { return Ctl("get UIOrlinFrameWnd SYNCFOLDERPATHLABEL").out == moved.string(); },
                        "the main window to show the new folder"));
  std::ofstream(NasFolder() / "keep" / "after-move.txt") << "made after the move";
  EXPECT_TRUE(WaitUntil([&] { return fs::exists(moved / "keep" / "after-move.txt"); },
                        "the NAS file to arrive in the new folder"));
  EXPECT_FALSE(fs::exists(Folder() / "keep" / "after-move.txt")) << "the old folder is still synchronised";
}

}  // namespace
}  // namespace orlin
