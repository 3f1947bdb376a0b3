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
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/program_session.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kUser[] = "ann";
constexpr char kPassword[] = "ann-password";

class UserScenario : public testsupport::ProgramSession {
 protected:
  void SetUp() override {
    // A new install speaks English here, so the texts below read as the
    // English tables.
    SetUpProgram({.programDir = ORLIN_PROGRAM_DIR,
                  .ctl = ORLIN_CTL_PATH,
                  .beside = {ORLIN_MONITORING_PATH},
                  .display = testsupport::ProgramDisplay::kVirtualWithTray,
                  .english = true,
                  .account = std::string(kUser) + ":" + kPassword});
  }

  // The program in a process namespace whose first process is a shell that
  // runs it, then notes in status.txt its exit status and in left.txt what
  // else still runs there (zombies aside), giving Exit 5 s to finish ending
  // its processes.
  bool StartWatchedProgram() {
    fs::remove(Scratch("status.txt"));
    fs::remove(Scratch("left.txt"));
    const std::string script =
        "\"$0\"; echo $? >\"$1/status.txt\"; i=0; while :; do left=; "
        "for p in /proc/[0-9]*; do [ \"$p\" = /proc/1 ] && continue; "
        "read -r stat <\"$p/stat\" 2>/dev/null || continue; rest=${stat##*) }; [ \"${rest%% *}\" = Z ] && continue; "
        "name=${stat#*(}; left=\"$left ${name%)*}\"; done; "
        "[ -z \"$left\" ] || [ $i -ge 50 ] && break; i=$((i+1)); sleep 0.1; done; echo \"$left\" >\"$1/left.txt\"";
    return StartInNamespace("sh -c " + Quote(script) + " " + Quote(Program().string()) + " " +
                            Quote(install->root().string()));
  }

  std::string Get(const std::string& windowClass, const std::string& control) {
    return Must("get " + windowClass + " " + control);
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
    EXPECT_TRUE(WaitUntil([&] { return WindowListed("MsgWnd"); }, "a message window"));
    text = Get("MsgWnd", "MessageText");
    Must("click MsgWnd OKBTN");
    EXPECT_TRUE(WaitUntil([&] { return !WindowListed("MsgWnd"); }, "the message window to close"));
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
};

TEST_F(UserScenario, FromTheFirstLoginThroughTheTrayAndLanguagesToExitAndBack) {
  const fs::path folder = Scratch("Tarn folder");
  fs::create_directories(folder);

  // First start: the login window over a hidden main window.
  ASSERT_TRUE(StartWatchedProgram());
  ASSERT_TRUE(WaitWindow("UILoginWnd"));
  EXPECT_TRUE(WindowListed("UIOrlinFrameWnd\tOrlin\thidden")) << Ctl("windows").out;
  EXPECT_EQ(Watchdogs(), 1) << "the program starts its watchdog";

  // An unreachable server (nothing listens on port 9), after an empty path
  // was refused in the sync folder window: the transport's reason follows
  // the message, nothing is written and the login window is usable again.
  // (login_e2e_test covers the empty field, the wrong password and the
  // folders the sync folder window refuses.)
  const std::string before = StateFiles();
  TypeLogin("https://127.0.0.1:9", kUser, kPassword);
  Must("click UILoginWnd LOGINBTN");
  ASSERT_TRUE(WaitWindow("UISyncPathWnd"));
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
  TypeLogin(TarnServerAddress(), kUser, kPassword);
  Must("click UILoginWnd LOGINBTN");
  ASSERT_TRUE(WaitWindow("UISyncPathWnd"));
  EXPECT_EQ(Get("UISyncPathWnd", "SETDEFAULTLOCATION --attr selected"), "true");
  Must("set UISyncPathWnd SYNCPOSEDIT " + Quote(folder.string()));
  Must("click UISyncPathWnd OKBTN");

  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
  EXPECT_FALSE(WindowListed("UILoginWnd"));
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date"));
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
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "EVENTLABEL", " Suspended"));
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
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date"));
  std::this_thread::sleep_for(3s);  // a few more polls of the event feeds
  EXPECT_EQ(Rows("CONFLICTBTN", "CONFLICTLIST").size(), 1u) << "one conflict, listed once";

  // The language switch changes the toolbar, the tabs and the tray menu at
  // once, and back.
  Must("click UIOrlinFrameWnd LANGUAGEBTN");
  Must("menu LANG_CHINESE");
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "SYNCBTN", "同步"));
  EXPECT_EQ(Get("UIOrlinFrameWnd", "PAUSEBTN"), "暂停");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "SYNCEVENTSBTN"), "同步事件");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "CONFLICTBTN"), "冲突文件");
  EXPECT_EQ(Get("UIOrlinFrameWnd", "EVENTLABEL"), "已同步");
  Must("tray right");
  EXPECT_EQ(Get("MenuWnd", "MENU_EXIT"), "退出");
  EXPECT_NE(ReadFile(dir() / "lang.xml").find("zh_cn"), std::string::npos);
  Must("click UIOrlinFrameWnd LANGUAGEBTN");
  Must("menu LANG_ENGLISH");
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "SYNCBTN", "Sync"));
  EXPECT_EQ(Get("UIOrlinFrameWnd", "SYNCEVENTSBTN"), "Sync Events");
  Must("tray right");
  EXPECT_EQ(Get("MenuWnd", "MENU_EXIT"), "Exit");
  Must("menu MENU_PANEL");

  // Close hides to the tray; a left click brings the window back.
  Must("click UIOrlinFrameWnd CLOSEBTN");
  ASSERT_TRUE(WaitUntil([&] { return WindowListed("UIOrlinFrameWnd\tOrlin\thidden"); },
                        "the main window to hide"));
  Must("tray left");
  ASSERT_TRUE(WaitUntil([&] { return WindowListed("UIOrlinFrameWnd\tOrlin\tvisible"); },
                        "the main window to show again"));

  // A second start while it runs ends at once, showing and starting nothing.
  const auto began = std::chrono::steady_clock::now();
  const int second = std::system(("timeout 60 unshare -p -f --mount-proc --kill-child " + ProgramEnvironment() + " " +
                                  Quote(Program().string()) + " >" + Quote(Scratch("second.out").string()) + " 2>&1")
                                     .c_str());
  EXPECT_TRUE(WIFEXITED(second) && WEXITSTATUS(second) == 0) << "124 means it did not end by itself";
  EXPECT_LT(std::chrono::steady_clock::now() - began, 30s);
  EXPECT_EQ(ReadFile(Scratch("second.out")), "");
  EXPECT_EQ(Watchdogs(), 1) << "no second watchdog";
  EXPECT_EQ(Get("UIOrlinFrameWnd", "EVENTLABEL"), "Up to date") << "the first one goes on";

  // Exit through the tray menu ends the program, its engines and watchdogs.
  Must("tray right");
  Must("menu MENU_EXIT");
  ASSERT_EQ(WaitForEnd(), 0) << "Exit ends the program";
  EXPECT_EQ(ReadFile(Scratch("status.txt")), "0\n");
  EXPECT_EQ(ReadFile(Scratch("left.txt")), "\n") << "Exit left these running";
  EXPECT_TRUE(install->EngineProcesses().empty());
  EXPECT_EQ(Watchdogs(), 0);

  // The next start skips the login and shows the main view.
  ASSERT_TRUE(StartWatchedProgram());
  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
  EXPECT_FALSE(WindowListed("UILoginWnd"));
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date"));
  Must("tray right");
  Must("menu MENU_EXIT");
  ASSERT_EQ(WaitForEnd(), 0) << "Exit ends the program";
  EXPECT_EQ(ReadFile(Scratch("left.txt")), "\n") << "Exit left these running";
}

}  // namespace
}  // namespace orlin
