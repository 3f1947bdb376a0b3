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

#include <chrono>
#include <fstream>
#include <iostream>
#include <thread>

#include "tests/support/program_session.h"
#include "tests/support/rest_probe.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HiddenPace : public testsupport::ProgramSession {
 protected:
  void SetUp() override {
    SetUpProgram({.programDir = ORLIN_PROGRAM_DIR,
                  .ctl = ORLIN_CTL_PATH,
                  .display = testsupport::ProgramDisplay::kVirtualWithTray,
                  .english = true,
                  .account = "ann:ann-password",
                  .signInWith = ORLIN_CLI_PATH});
  }

  std::string Get(const std::string& control) { return Ctl("get UIOrlinFrameWnd " + control).out; }

  // The engine's own word on the folder (not the window's).
  std::string EngineFolders() {
    return testsupport::RestGet(testsupport::kEngineRestPort, "/rest/config/folders",
                                install->ReadApiKey().value_or(""))
        .body;
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
};

TEST_F(HiddenPace, InTheTrayTheSyncEventsAndTrayPauseStayPromptAndTheShownWindowIsCurrent) {
  std::ofstream(NasFolder() / "first.txt") << "before the program";
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
  ASSERT_TRUE(WaitText("UIOrlinFrameWnd", "EVENTLABEL", "Up to date"));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "first.txt"); }, "the first NAS file"));
  ASSERT_TRUE(WaitUntil([&] { return Get("FILESTOTALLABEL") == std::to_string(LocalFiles()); },
                        "the totals of the shown window"));

  // To the tray.
  Must("click UIOrlinFrameWnd CLOSEBTN");
  ASSERT_TRUE(WaitUntil([&] { return WindowListed("UIOrlinFrameWnd\tOrlin\thidden"); },
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
  ASSERT_TRUE(WaitUntil([&] { return WindowListed("UIOrlinFrameWnd\tOrlin\tvisible"); },
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
