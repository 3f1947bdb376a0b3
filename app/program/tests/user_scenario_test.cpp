// The built program as a user meets it, driven through orlin-ctl: the real
// engine, the Tarn server stand-in, a virtual display with a notification
// area, all inside the test's private network. An unreachable server is
// refused with nothing written; a first login goes through the sync folder
// window to a main window that follows the NAS; the tray pauses and resumes,
// the language switches at run time, Close hides to the tray, a second start
// ends at once, Exit ends every engine and watchdog and the next start skips
// the login.
//
// The program runs in a process namespace of its own, so its start-up (which
// stops every engine it can see) never touches another test's engine. Its
// first process there is a small shell, not the program: when the program
// ends, the kernel would otherwise end everything it left behind and hide an
// engine or a watchdog that Exit failed to stop. The shell notes what still
// runs once the program has ended.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// CI is a loaded two-core machine: a step that takes a second here may take
// a minute there.
constexpr auto kDeadline = 120s;
constexpr std::uint16_t kServerPort = 8443;
constexpr char kServer[] = "https://127.0.0.1:8443";
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

// Starts `argv` as a child of the test (so in its private network) with
// standard output into `out`; the process id, or -1.
pid_t Spawn(const std::vector<std::string>& argv, const fs::path& out, const std::vector<std::string>& env = {}) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const std::string outText = out.string();
  std::FILE* f = std::fopen(outText.c_str(), "a");
  if (f) {
    ::dup2(::fileno(f), STDOUT_FILENO);
    ::dup2(::fileno(f), STDERR_FILENO);
  }
  for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

void EndChild(pid_t& pid, int signal = SIGTERM) {
  if (pid <= 0) return;
  ::kill(pid, signal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
}

// A virtual display with a notification area: Xvfb picks a free display
// number, trayer takes the tray selection on it.
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
    tray_ = Spawn({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24"},
                  logDir / "trayer.log", {"DISPLAY=" + display_});
  }
  ~VirtualDesktop() {
    EndChild(tray_);
    EndChild(xvfb_);
  }
  // Empty when the display did not start.
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

class UserScenario : public ::testing::Test {
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
    fs::copy_file(ORLIN_MONITORING_PATH, dir() / "Monitoring");
    for (const auto& entry : fs::directory_iterator(built)) {
      if (entry.path().extension() == ".xml") {
        fs::copy_file(entry.path(), dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
      }
    }
    fs::copy(built / "res", dir() / "res", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    // A new install speaks English here, so the texts below read as the
    // English tables.
    std::ofstream(dir() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin><lang>en</lang></Orlin>\n";

    desktop = std::make_unique<VirtualDesktop>(install->root());
    ASSERT_FALSE(desktop->display().empty()) << "Xvfb did not start: " << ReadFile(install->root() / "xvfb.log");
    server = std::make_unique<testsupport::TarnServer>(install->root() / "nas", kServerPort,
                                                       std::string(kUser) + ":" + kPassword);
    ASSERT_FALSE(server->deviceId().empty()) << "the Tarn server stand-in did not start";
  }

  void TearDown() override {
    EndChild(program, SIGKILL);
    server.reset();
    desktop.reset();
  }

  const fs::path& dir() const { return install->installDir(); }
  fs::path Scratch(const std::string& name) const { return install->root() / name; }
  fs::path NasFolder() const { return Scratch("nas") / "folders" / kUser; }
  std::string ProgramSaid() const { return ReadFile(Scratch("orlin.out")); }

  // The program in a process namespace whose first process is a shell that
  // runs it, then notes in left.txt what else still runs there (zombies
  // aside), giving Exit 5 s to finish ending its processes.
  std::string Command() const {
    const std::string script =
        "\"$0\"; echo $? >\"$1/status.txt\"; i=0; while :; do left=; "
        "for p in /proc/[0-9]*; do [ \"$p\" = /proc/1 ] && continue; "
        "read -r stat <\"$p/stat\" 2>/dev/null || continue; rest=${stat##*) }; [ \"${rest%% *}\" = Z ] && continue; "
        "name=${stat#*(}; left=\"$left ${name%)*}\"; done; "
        "[ -z \"$left\" ] || [ $i -ge 50 ] && break; i=$((i+1)); sleep 0.1; done; echo \"$left\" >\"$1/left.txt\"";
    return "exec unshare -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=xcb DISPLAY=" + desktop->display() +
           " ORLIN_AUTOMATION=1 sh -c " + Quote(script) + " " + Quote((dir() / "orlin").string()) + " " +
           Quote(install->root().string());
  }

  void StartProgram() {
    fs::remove(Scratch("status.txt"));
    fs::remove(Scratch("left.txt"));
    const std::string command = Command() + " >>" + Quote(Scratch("orlin.out").string()) + " 2>&1";
    program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!fs::exists(dir() / "orlin-automation.sock")) {
      ASSERT_LT(std::chrono::steady_clock::now(), end)
          << "waited for the program's automation to listen; it said: " << ProgramSaid();
      std::this_thread::sleep_for(50ms);
    }
  }

  // Waits for the program's namespace to end after the program ended by
  // itself; false when it did not within the deadline.
  bool WaitForProgramEnd() {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(program, &status, WNOHANG) == program) {
        program = -1;
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
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
  // orlin-ctl must succeed; its output.
  std::string Must(const std::string& words) {
    CtlRun run = Ctl(words);
    EXPECT_EQ(run.exitCode, 0) << "orlin-ctl " << words << ": " << run.out;
    return run.out;
  }
  std::string Get(const std::string& windowClass, const std::string& control) {
    return Must("get " + windowClass + " " + control);
  }
  void WaitWindow(const std::string& windowClass) {
    CtlRun run = Ctl("wait-window " + windowClass + " --timeout 120");
    ASSERT_EQ(run.exitCode, 0) << run.out << "\nwindows: " << Ctl("windows").out << "\nthe program said: "
                               << ProgramSaid();
  }
  void WaitText(const std::string& windowClass, const std::string& control, const std::string& text) {
    CtlRun run = Ctl("wait " + windowClass + " " + control + " " + Quote(text) + " --timeout 120");
    ASSERT_EQ(run.exitCode, 0) << run.out;
  }
  bool WindowShown(const std::string& windowClass) {
    return Ctl("windows").out.find(windowClass) != std::string::npos;
  }

  // Asks until `done` holds; false (with what was waited for) at the deadline.
  bool WaitUntil(const std::function<bool()>& done, const std::string& what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up after " << kDeadline.count() << " s waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(500ms);
    }
    return true;
  }

  // The rows of a list, one JSON object per line; the list's tab is clicked
  // first, as a user looks at it.
  std::vector<std::string> Rows(const std::string& tab, const std::string& list) {
    Must("click UIOrlinFrameWnd " + tab);
    std::vector<std::string> rows;
    std::istringstream lines(Ctl("rows UIOrlinFrameWnd " + list).out);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) rows.push_back(line);
    }
    return rows;
  }

  // Closes the message window over the login window, returning its text.
  std::string DismissMessage() {
    std::string text;
    EXPECT_TRUE(WaitUntil([&] { return WindowShown("MsgWnd"); }, "a message window"));
    text = Get("MsgWnd", "MessageText");
    Must("click MsgWnd OKBTN");
    EXPECT_TRUE(WaitUntil([&] { return !WindowShown("MsgWnd"); }, "the message window to close"));
    return text;
  }

  void TypeLogin(const std::string& server, const std::string& user, const std::string& password) {
    Must("set UILoginWnd IPEDIT " + Quote(server));
    Must("set UILoginWnd USERNAMEEDIT " + Quote(user));
    Must("set UILoginWnd PASSWORDEDIT " + Quote(password));
  }

  // The processes of this install's watchdog still alive (zombies aside).
  int Watchdogs() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::error_code error;
      const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
      if (error || exe != dir() / "Monitoring") continue;
      const std::string stat = ReadFile(entry.path() / "stat");
      const auto close = stat.rfind(')');
      if (close != std::string::npos && stat.compare(close + 2, 1, "Z") != 0) ++count;
    }
    return count;
  }

  // What the state files of the install hold, to prove nothing was written.
  std::string StateFiles() const {
    const InstallLayout& layout = install->layout();
    std::string all;
    for (const fs::path& file : {layout.UserConfig(), layout.SettingFile(), dir() / "Orlin.ini"}) {
      all += file.filename().string() + ": " + ReadFile(file) + "\n";
    }
    for (const fs::path& file : {layout.Marker(), layout.AccountArchive(), layout.ServerCertificate()}) {
      all += file.filename().string() + (fs::exists(file) ? " exists\n" : " absent\n");
    }
    const bool serverKnown = ReadFile(layout.EngineConfig()).find(server->deviceId()) != std::string::npos;
    all += serverKnown ? "config.xml names the server\n" : "config.xml does not name the server\n";
    return all;
  }

  std::unique_ptr<testsupport::ScratchInstall> install;
  std::unique_ptr<VirtualDesktop> desktop;
  std::unique_ptr<testsupport::TarnServer> server;
  pid_t program = -1;
};

TEST_F(UserScenario, FromTheFirstLoginThroughTheTrayAndLanguagesToExitAndBack) {
  const fs::path folder = Scratch("Tarn folder");
  fs::create_directories(folder);

  // First start: the login window over a hidden main window.
  StartProgram();
  WaitWindow("UILoginWnd");
  EXPECT_NE(Ctl("windows").out.find("UIOrlinFrameWnd\tOrlin\thidden"), std::string::npos) << Ctl("windows").out;
  EXPECT_EQ(Watchdogs(), 1) << "the program starts its watchdog";

  // An unreachable server (nothing listens on port 9), after an empty path
  // was refused in the sync folder window: the transport's reason follows
  // the message, nothing is written and the login window is usable again.
  // (login_e2e_test covers the empty field, the wrong password and the
  // folders the sync folder window refuses.)
  const std::string before = StateFiles();
  TypeLogin("https://127.0.0.1:9", kUser, kPassword);
  Must("click UILoginWnd LOGINBTN");
  WaitWindow("UISyncPathWnd");
  Must("set UISyncPathWnd SYNCPOSEDIT ''");
  Must("click UISyncPathWnd OKBTN");
  EXPECT_EQ(DismissMessage(), "Invalid directory");
  Must("set UISyncPathWnd SYNCPOSEDIT " + Quote(folder.string()));
  Must("click UISyncPathWnd OKBTN");
  const std::string unreachable = DismissMessage();
  EXPECT_EQ(unreachable.rfind("Login Failed!", 0), 0u) << unreachable;
  EXPECT_NE(unreachable.find("127.0.0.1"), std::string::npos) << unreachable;
  ASSERT_TRUE(WaitUntil([&] { return Get("UILoginWnd", "LOGINBTN --attr enabled") == "true"; },
                        "the login button to come back after the failed connection"));
  EXPECT_EQ(StateFiles(), before) << "a failed login writes nothing";
  EXPECT_EQ(Get("UILoginWnd", "IPEDIT"), "https://127.0.0.1:9") << "the typed texts stay for a correction";

  // A new account chooses its folder in the sync folder window.
  TypeLogin(kServer, kUser, kPassword);
  Must("click UILoginWnd LOGINBTN");
  WaitWindow("UISyncPathWnd");
  EXPECT_EQ(Get("UISyncPathWnd", "SETDEFAULTLOCATION --attr selected"), "true");
  Must("set UISyncPathWnd SYNCPOSEDIT " + Quote(folder.string()));
  Must("click UISyncPathWnd OKBTN");

  WaitWindow("UIOrlinFrameWnd");
  EXPECT_FALSE(WindowShown("UILoginWnd"));
  WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "SYNCFOLDERPATHLABEL"), folder.string());
  EXPECT_EQ(Get("UIOrlinFrameWnd", "SYNCMSGSHOWEDLABEL"), std::string(kUser) + "@127.0.0.1:8443");
  EXPECT_NE(ReadFile(dir() / "userconfig.xml").find("name=\"ann\""), std::string::npos);

  // A file dropped on the NAS arrives and is listed with its size on disk.
  std::ofstream(NasFolder() / "from-nas.txt") << "written on the NAS";  // 18 bytes
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder / "from-nas.txt"); }, "the NAS file to arrive"));
  std::vector<std::string> rows;
  ASSERT_TRUE(WaitUntil([&] { return !(rows = Rows("SYNCEVENTSBTN", "SYNCEVENTSLIST")).empty(); },
                        "the arrival in the sync events list"));
  EXPECT_NE(rows[0].find("\"ACTIONLABEL\":\"Remote modified\""), std::string::npos) << rows[0];
  EXPECT_NE(rows[0].find("\"FILELABEL\":\"from-nas.txt\""), std::string::npos) << rows[0];
  EXPECT_NE(rows[0].find("\"SIZELABEL\":\"18 B\""), std::string::npos) << rows[0];
  ASSERT_TRUE(WaitUntil([&] { return !(rows = Rows("LASTSYNCFILESBTN", "LASTSYNCFILESLIST")).empty(); },
                        "the file in the last synced files"));
  EXPECT_NE(rows[0].find("\"FILELABEL\":\"from-nas.txt\""), std::string::npos) << rows[0];
  EXPECT_NE(rows[0].find("\"SIZELABEL\":\"18 B\""), std::string::npos) << "the size of the file on disk: " << rows[0];

  // Tray Pause: the engine stops, the menu offers Start Sync.
  Must("tray right");
  EXPECT_EQ(Get("MenuWnd", "MENU_PAUSE"), "Pause Sync");
  Must("menu MENU_PAUSE");
  WaitText("UIOrlinFrameWnd", "EVENTLABEL", " Suspended");
  Must("tray right");
  EXPECT_EQ(Get("MenuWnd", "MENU_START"), "Start Sync");
  EXPECT_NE(Ctl("get MenuWnd MENU_PAUSE").exitCode, 0) << "a paused engine is not offered Pause";

  // Both sides change the file while paused; after Start Sync the engines
  // keep both versions and the conflict is listed once.
  std::ofstream(folder / "from-nas.txt") << "changed here";
  std::this_thread::sleep_for(1100ms);  // the NAS version is the newer one
  std::ofstream(NasFolder() / "from-nas.txt") << "changed on the NAS as well";
  Must("menu MENU_START");
  ASSERT_TRUE(WaitUntil([&] { return !(rows = Rows("CONFLICTBTN", "CONFLICTLIST")).empty(); },
                        "the conflict in the conflicts list"));
  EXPECT_NE(rows[0].find("\"FILELABEL\":\"from-nas.txt\""), std::string::npos) << rows[0];
  WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date");
  std::this_thread::sleep_for(3s);  // a few more polls of the event feeds
  EXPECT_EQ(Rows("CONFLICTBTN", "CONFLICTLIST").size(), 1u) << "one conflict, listed once";

  // The language switch changes the toolbar, the tabs and the tray menu at
  // once, and back.
  Must("click UIOrlinFrameWnd LANGUAGEBTN");
  Must("menu LANG_CHINESE");
  WaitText("UIOrlinFrameWnd", "SYNCBTN", "同步");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "PAUSEBTN"), "暂停");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "SYNCEVENTSBTN"), "同步事件");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "CONFLICTBTN"), "冲突文件");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "EVENTLABEL"), "已同步");
  Must("tray right");
  EXPECT_EQ(Get("MenuWnd", "MENU_EXIT"), "退出");
  EXPECT_NE(ReadFile(dir() / "lang.xml").find("zh_cn"), std::string::npos);
  Must("click UIOrlinFrameWnd LANGUAGEBTN");
  Must("menu LANG_ENGLISH");
  WaitText("UIOrlinFrameWnd", "SYNCBTN", "Sync");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "SYNCEVENTSBTN"), "Sync Events");
  Must("tray right");
  EXPECT_EQ(Get("MenuWnd", "MENU_EXIT"), "Exit");
  Must("menu MENU_PANEL");

  // Close hides to the tray; a left click brings the window back.
  Must("click UIOrlinFrameWnd CLOSEBTN");
  ASSERT_TRUE(WaitUntil([&] { return Ctl("windows").out.find("UIOrlinFrameWnd\tOrlin\thidden") != std::string::npos; },
                        "the main window to hide"));
  Must("tray left");
  ASSERT_TRUE(WaitUntil([&] { return Ctl("windows").out.find("UIOrlinFrameWnd\tOrlin\tvisible") != std::string::npos; },
                        "the main window to show again"));

  // A second start while it runs ends at once, showing and starting nothing.
  const auto began = std::chrono::steady_clock::now();
  const int second = std::system(("timeout 60 unshare -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=xcb DISPLAY=" +
                                  desktop->display() + " ORLIN_AUTOMATION=1 " + Quote((dir() / "orlin").string()) +
                                  " >" + Quote(Scratch("second.out").string()) + " 2>&1")
                                     .c_str());
  EXPECT_TRUE(WIFEXITED(second) && WEXITSTATUS(second) == 0) << "124 means it did not end by itself";
  EXPECT_LT(std::chrono::steady_clock::now() - began, 30s);
  EXPECT_EQ(ReadFile(Scratch("second.out")), "");
  EXPECT_EQ(Watchdogs(), 1) << "no second watchdog";
  EXPECT_EQ(Get("UIOrlinFrameWnd", "EVENTLABEL"), "Up to date") << "the first one goes on";

  // Exit through the tray menu ends the program, its engines and watchdogs.
  Must("tray right");
  Must("menu MENU_EXIT");
  ASSERT_TRUE(WaitForProgramEnd()) << "Exit ends the program; it said: " << ProgramSaid();
  EXPECT_EQ(ReadFile(Scratch("status.txt")), "0\n");
  EXPECT_EQ(ReadFile(Scratch("left.txt")), "\n") << "Exit left these running";
  EXPECT_TRUE(install->EngineProcesses().empty());
  EXPECT_EQ(Watchdogs(), 0);

  // The next start skips the login and shows the main view.
  StartProgram();
  WaitWindow("UIOrlinFrameWnd");
  EXPECT_FALSE(WindowShown("UILoginWnd"));
  WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date");
  Must("tray right");
  Must("menu MENU_EXIT");
  ASSERT_TRUE(WaitForProgramEnd()) << "Exit ends the program; it said: " << ProgramSaid();
  EXPECT_EQ(ReadFile(Scratch("left.txt")), "\n") << "Exit left these running";
}

}  // namespace
}  // namespace orlin
