// The built program in the tray, with the real engine and the Tarn server
// stand-in, on a virtual display with a notification area: while the main
// window is hidden the status is polled slowly, yet a file that arrives from
// the NAS is listed in the sync events, a pause from the tray menu reaches
// the engine at once, and the window shown again reads the current totals,
// rates and devices.
//
// The program runs in a process namespace of its own (so its start-up, which
// stops every engine it sees, touches no other test's engine) inside the
// test's private network.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Xvfb on a free display number, trayer holding the tray selection on it.
class VirtualDesktop {
 public:
  explicit VirtualDesktop(const fs::path& logDir) {
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
    if (number.empty()) return;
    display_ = ":" + number;
    tray_ = ::fork();
    if (tray_ == 0) {
      std::FILE* log = std::fopen((logDir / "trayer.log").c_str(), "a");
      if (log) {
        ::dup2(::fileno(log), STDOUT_FILENO);
        ::dup2(::fileno(log), STDERR_FILENO);
      }
      ::setenv("DISPLAY", display_.c_str(), 1);
      ::execlp("trayer", "trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height",
               "24", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~VirtualDesktop() {
    EndChild(tray_);
    EndChild(xvfb_);
  }
  const std::string& display() const { return display_; }

 private:
  pid_t xvfb_ = -1;
  pid_t tray_ = -1;
  std::string display_;
};

struct CtlRun {
  int exitCode = -1;
  std::string out;
};

class HiddenPace : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs a process namespace (root)";
    }
    if (!Installed("Xvfb") || !Installed("trayer")) {
      GTEST_SKIP() << "needs Xvfb and trayer for a display with a notification area (scripts/setup installs them)";
    }
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

    desktop = std::make_unique<VirtualDesktop>(install->root());
    ASSERT_FALSE(desktop->display().empty()) << "Xvfb did not start: " << ReadFile(install->root() / "xvfb.log");
    server = std::make_unique<testsupport::TarnServer>(install->root() / "nas", kServerPort,
                                                       std::string(kUser) + ":" + kPassword);
    ASSERT_FALSE(server->deviceId().empty()) << "the Tarn server stand-in did not start";

    // Signed in before the program starts, so it opens the main view. The
    // sign-in leaves its engine running; the program starts its own.
    fs::create_directories(Folder());
    const std::string login = "timeout 300 " + Quote(ORLIN_CLI_PATH) + " --install-dir " + Quote(dir().string()) +
                              " login --server https://127.0.0.1:" + std::to_string(kServerPort) + " --user " + kUser +
                              " --password " + kPassword + " --folder " + Quote(Folder().string()) + " >" +
                              Quote(Scratch("login.out").string()) + " 2>&1 </dev/null";
    ASSERT_EQ(std::system(login.c_str()), 0) << ReadFile(Scratch("login.out"));
    ASSERT_TRUE(install->KillEngineProcesses());
  }

  void TearDown() override {
    EndChild(program, SIGKILL);
    server.reset();
    desktop.reset();
  }

  const fs::path& dir() const { return install->installDir(); }
  fs::path Scratch(const std::string& name) const { return install->root() / name; }
  fs::path Folder() const { return Scratch("Tarn folder"); }
  fs::path NasFolder() const { return Scratch("nas") / "folders" / kUser; }

  void StartProgram() {
    const std::string command = "exec unshare -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=xcb DISPLAY=" +
                                desktop->display() + " ORLIN_AUTOMATION=1 " + Quote((dir() / "orlin").string()) +
                                " >>" + Quote(Scratch("orlin.out").string()) + " 2>&1";
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

  CtlRun Ctl(const std::string& words) {
    const fs::path out = Scratch("ctl.out");
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
  std::string Get(const std::string& control) { return Ctl("get UIOrlinFrameWnd " + control).out; }

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

  // The engine's own word on the folder (not the window's).
  std::string EngineFolders() {
    static const std::string key = install->ReadApiKey().value_or("");
    return testsupport::RestGet(testsupport::kEngineRestPort, "/rest/config/folders", key).body;
  }
  static bool AllPaused(const std::string& folders) {
    return folders.find("\"paused\": true") != std::string::npos &&
           folders.find("\"paused\": false") == std::string::npos;
  }

  // Files the engine counts in the folder (its own markers aside).
  std::size_t LocalFiles() const {
    std::size_t n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Folder())) {
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name.rfind(".st", 0) != 0) ++n;
    }
    return n;
  }

  std::unique_ptr<testsupport::ScratchInstall> install;
  std::unique_ptr<VirtualDesktop> desktop;
  std::unique_ptr<testsupport::TarnServer> server;
  pid_t program = -1;
};

TEST_F(HiddenPace, InTheTrayTheSyncEventsAndTrayPauseStayPromptAndTheShownWindowIsCurrent) {
  std::ofstream(NasFolder() / "first.txt") << "before the program";
  StartProgram();
  ASSERT_EQ(Ctl("wait-window UIOrlinFrameWnd --timeout 120").exitCode, 0) << ReadFile(Scratch("orlin.out"));
  ASSERT_EQ(Ctl("wait UIOrlinFrameWnd EVENTLABEL 'Up to date' --timeout 120").exitCode, 0);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "first.txt"); }, "the first NAS file"));
  ASSERT_TRUE(WaitUntil([&] { return Get("FILESTOTALLABEL") == std::to_string(LocalFiles()); },
                        "the totals of the shown window"));

  // To the tray.
  Must("click UIOrlinFrameWnd CLOSEBTN");
  ASSERT_TRUE(WaitUntil([&] { return Ctl("windows").out.find("UIOrlinFrameWnd\tOrlin\thidden") != std::string::npos; },
                        "the main window to hide"));
  std::this_thread::sleep_for(3s);  // the slow pace has taken over

  // A file from the NAS is listed in the sync events once it arrived (the
  // disk feed keeps its long poll while hidden).
  std::ofstream(NasFolder() / "while-hidden.txt") << "written while the window was in the tray";
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "while-hidden.txt"); }, "the NAS file to arrive"));
  const auto arrived = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return Ctl("rows UIOrlinFrameWnd SYNCEVENTSLIST").out.find("while-hidden.txt") !=
                                     std::string::npos; },
                        "the hidden window's sync events to list the file"));
  const auto listed = std::chrono::steady_clock::now();
  std::cout << "listed " << std::chrono::duration_cast<std::chrono::milliseconds>(listed - arrived).count()
            << " ms after its arrival\n";

  // Pause from the tray menu while hidden: the engine pauses at once, and
  // the menu offers Start Sync.
  ASSERT_FALSE(AllPaused(EngineFolders()));
  Must("tray right");
  EXPECT_EQ(Ctl("get MenuWnd MENU_PAUSE").out, "Pause Sync");
  Must("menu MENU_PAUSE");
  ASSERT_TRUE(WaitUntil([&] { return AllPaused(EngineFolders()); }, "the engine to pause the folder"));
  Must("tray right");
  EXPECT_EQ(Ctl("get MenuWnd MENU_START").out, "Start Sync");
  Must("menu MENU_START");
  ASSERT_TRUE(WaitUntil([&] { return !AllPaused(EngineFolders()); }, "the engine to resume the folder"));

  // More files arrive while hidden; the hidden window's totals are not kept
  // current (they are not seen), the shown window's are at once.
  for (int i = 0; i < 3; ++i) std::ofstream(NasFolder() / ("later-" + std::to_string(i) + ".txt")) << i;
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "later-2.txt"); }, "the later files to arrive"));
  const std::string files = std::to_string(LocalFiles());
  Must("tray left");
  ASSERT_TRUE(WaitUntil([&] { return Ctl("windows").out.find("UIOrlinFrameWnd\tOrlin\tvisible") != std::string::npos; },
                        "the main window to show"));
  ASSERT_TRUE(WaitUntil([&] { return Get("FILESTOTALLABEL") == files; }, "the shown totals to count " + files));
  // The rates carry the bytes received so far, which the later files moved.
  EXPECT_TRUE(WaitUntil([&] { return Get("DOWNLOADRATELABEL").find("(0 B)") == std::string::npos; },
                        "the download total"));
  // The NAS is listed as a connected remote device.
  Must("click UIOrlinFrameWnd REMOTEDEVICESBTN");
  EXPECT_TRUE(WaitUntil([&] {
    const std::string rows = Ctl("rows UIOrlinFrameWnd REMOTEDEVICESLIST").out;
    return rows.find("127.0.0.1") != std::string::npos;
  }, "the NAS in the remote devices with its address"));
  Must("click UIOrlinFrameWnd SYNCEVENTSBTN");
  WaitUntil([&] { return Get("EVENTLABEL") == "Up to date"; }, "the status to read Up to date");
}

}  // namespace
}  // namespace orlin
