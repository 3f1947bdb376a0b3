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
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/rest_probe.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// CI is a loaded two-core machine: a step that takes a second here may take
// a minute there.
constexpr auto kDeadline = 120s;
constexpr std::uint16_t kServerPort = 8443;
constexpr char kUser[] = "ann";
constexpr char kPassword[] = "ann-password";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool Installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

void EndChild(pid_t& pid, int signal = SIGTERM) {
  if (pid <= 0) return;
  ::kill(pid, signal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
}

// Xvfb on a free display number (no notification area is needed here).
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const fs::path& logDir) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    xvfb_ = ::fork();
    if (xvfb_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      std::FILE* log = std::fopen((logDir / "xvfb.log").c_str(), "a");
      if (log) ::dup2(::fileno(log), STDERR_FILENO);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "1280x900x24",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~VirtualDisplay() { EndChild(xvfb_); }
  const std::string& display() const { return display_; }

 private:
  pid_t xvfb_ = -1;
  std::string display_;
};

struct CtlRun {
  int exitCode = -1;
  std::string out;
};

class SettingsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs a process namespace (root)";
    }
    if (!Installed("Xvfb")) GTEST_SKIP() << "needs Xvfb for a display (scripts/setup installs it)";
    install = std::make_unique<testsupport::ScratchInstall>("install dir");
    ASSERT_EQ(install->error(), "");
    const fs::path built(ORLIN_PROGRAM_DIR);
    fs::copy_file(built / "orlin", dir() / "orlin");
    for (const auto& entry : fs::directory_iterator(built)) {
      if (entry.path().extension() == ".xml") {
        fs::copy_file(entry.path(), dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
      }
    }
    fs::copy(built / "res", dir() / "res", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::ofstream(dir() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin><lang>en</lang></Orlin>\n";

    display = std::make_unique<VirtualDisplay>(install->root());
    ASSERT_FALSE(display->display().empty()) << "Xvfb did not start: " << ReadFile(install->root() / "xvfb.log");
    server = std::make_unique<testsupport::TarnServer>(install->root() / "nas", kServerPort,
                                                       std::string(kUser) + ":" + kPassword);
    ASSERT_FALSE(server->deviceId().empty()) << "the Tarn server stand-in did not start";

    // Signed in before the program starts, so it opens the main view. In a
    // process namespace of its own, like the program: the sign-in stops
    // every engine it sees, and its engine goes with the namespace.
    fs::create_directories(Folder());
    const std::string login = "timeout 300 unshare -p -f --mount-proc " + Quote(ORLIN_CLI_PATH) + " --install-dir " + Quote(dir().string()) +
                              " login --server https://127.0.0.1:" + std::to_string(kServerPort) + " --user " + kUser +
                              " --password " + kPassword + " --folder " + Quote(Folder().string()) + " >" +
                              Quote(Scratch("login.out").string()) + " 2>&1 </dev/null";
    ASSERT_EQ(std::system(login.c_str()), 0) << ReadFile(Scratch("login.out"));
    ASSERT_TRUE(install->KillEngineProcesses());
  }

  void TearDown() override {
    EndChild(program, SIGKILL);
    server.reset();
    display.reset();
  }

  const fs::path& dir() const { return install->installDir(); }
  fs::path Scratch(const std::string& name) const { return install->root() / name; }
  fs::path Folder() const { return Scratch("Tarn folder"); }
  fs::path NasFolder() const { return Scratch("nas") / "folders" / kUser; }

  void StartProgram() {
    // XDG_CONFIG_HOME keeps the autostart entry and the file-manager place
    // of the settings apply in the scratch folder.
    const std::string command = "exec unshare -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=xcb DISPLAY=" +
                                display->display() + " ORLIN_AUTOMATION=1 XDG_CONFIG_HOME=" +
                                Quote(Scratch("config").string()) + " " + Quote((dir() / "orlin").string()) + " >>" +
                                Quote(Scratch("orlin.out").string()) + " 2>&1";
    program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!fs::exists(dir() / "orlin-automation.sock")) {
      ASSERT_LT(std::chrono::steady_clock::now(), end)
          << "waited for the program's automation to listen; it said: " << ReadFile(Scratch("orlin.out"));
      std::this_thread::sleep_for(50ms);
    }
  }

  CtlRun Ctl(const std::string& words, const std::string& outName = "ctl.out") {
    const fs::path out = Scratch(outName);
    const std::string command = "timeout 180 " + Quote(ORLIN_CTL_PATH) + " --install-dir " + Quote(dir().string()) +
                                " " + words + " >" + Quote(out.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    std::string text = ReadFile(out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }
  std::string Must(const std::string& words) {
    CtlRun run = Ctl(words);
    EXPECT_EQ(run.exitCode, 0) << "orlin-ctl " << words << ": " << run.out;
    return run.out;
  }

  bool WaitUntil(const std::function<bool()>& done, const std::string& what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up after " << kDeadline.count() << " s waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(200ms);
    }
    return true;
  }

  // The settings window on its configuration page, from the toolbar.
  void OpenSettings() {
    Must("click UIOrlinFrameWnd PREFERENCESBTN");
    ASSERT_EQ(Ctl("wait-window UISetWnd --timeout 120").exitCode, 0);
  }
  // OK, and the window gone.
  void ConfirmSettings() {
    Must("click UISetWnd OKBTN");
    ASSERT_TRUE(WaitUntil([&] { return Ctl("windows").out.find("UISetWnd") == std::string::npos; },
                          "the settings window to close"));
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

  std::unique_ptr<testsupport::ScratchInstall> install;
  std::unique_ptr<VirtualDisplay> display;
  std::unique_ptr<testsupport::TarnServer> server;
  pid_t program = -1;
};

TEST_F(SettingsEndToEnd, LanguageEngineValuesSelectiveSyncAndAFolderMove) {
  fs::create_directories(NasFolder() / "keep");
  fs::create_directories(NasFolder() / "skip");
  std::ofstream(NasFolder() / "keep" / "k1.txt") << "keep 1";
  std::ofstream(NasFolder() / "skip" / "s1.txt") << "skip 1";
  StartProgram();
  ASSERT_EQ(Ctl("wait-window UIOrlinFrameWnd --timeout 120").exitCode, 0) << ReadFile(Scratch("orlin.out"));
  ASSERT_EQ(Ctl("wait UIOrlinFrameWnd EVENTLABEL 'Up to date' --timeout 120").exitCode, 0);
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
  ASSERT_EQ(Ctl("wait-window MsgWnd --timeout 120").exitCode, 0) << ReadFile(Scratch("orlin.out"));
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
  ASSERT_EQ(Ctl("wait-window UIIgnoredWnd --timeout 120").exitCode, 0);
  ASSERT_TRUE(WaitUntil([&] { return Ctl("check UIIgnoredWnd IGNORING_TREEVIEW skip on").exitCode == 0; },
                        "the tree to take the check"));
  Must("shot UIIgnoredWnd " + Quote(Scratch("selective-sync.png").string()));
  Must("click UIIgnoredWnd OKBTN");
  EXPECT_EQ(Ctl("get UISetWnd FILESFOLDERSLABEL").out, "( 2 )");  // the folder and its file
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
