// The built program with the real engine, offscreen, driven through
// orlin-ctl: without an account it shows the login window, and closing that
// window ends the program and its engine; with an account the login window
// is skipped and the main view opens and follows the engine. Each run has a
// network namespace (the test's) and a process namespace of its own, so the
// program sees no engine but its own.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/program_session.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ProgramEndToEnd : public testsupport::ProgramSession {
 protected:
  void SetUp() override { SetUpProgram({.programDir = ORLIN_PROGRAM_DIR, .ctl = ORLIN_CTL_PATH}); }
};

TEST_F(ProgramEndToEnd, WithoutAnAccountTheLoginWindowShowsAndClosingItEndsTheProgram) {
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitWindow("UILoginWnd"));
  Shoot("UILoginWnd", "program-login.png");
  EXPECT_FALSE(WindowListed("UIOrlinFrameWnd\tOrlin\tvisible"))
      << "the main view stays hidden while the login window shows: " << Ctl("windows").out;

  CtlRun closed = Ctl("click UILoginWnd CLOSEBTN");
  EXPECT_EQ(closed.exitCode, 0) << closed.out;
  EXPECT_EQ(WaitForEnd(), 0);
  // The engine ended with the program.
  EXPECT_TRUE(install->EngineProcesses().empty());
}

TEST_F(ProgramEndToEnd, WithAnAccountTheMainViewOpensAndFollowsTheEngine) {
  // A first run lets the engine write its configuration; the login marker
  // then stands for a completed login.
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitWindow("UILoginWnd"));
  Stop();
  ASSERT_TRUE(fs::exists(install->layout().EngineConfig()));
  std::ofstream(install->layout().Marker()) << "";

  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
  EXPECT_FALSE(WindowListed("UILoginWnd")) << "no login window after a login";
  // The status area leaves the start-up key once the poller hears from the
  // engine.
  std::string text;
  EXPECT_TRUE(WaitUntil(
      [&] {
        text = Ctl("get UIOrlinFrameWnd EVENTLABEL").out;
        return !text.empty() && text.find("Orlin Prestart") == std::string::npos &&
               text.find("Orlin 准备启动") == std::string::npos;
      },
      "the status to leave the start-up key", 500ms))
      << "the status still reads " << text;
  Shoot("UIOrlinFrameWnd", "program-main.png");

  // Ctrl+Shift+L shows the log tab through the program's key handling.
  EXPECT_EQ(Ctl("key UIOrlinFrameWnd ctrl+shift+l").exitCode, 0);
  EXPECT_EQ(Ctl("get UIOrlinFrameWnd LOGBTN --attr visible").out, "true");
}

TEST_F(ProgramEndToEnd, AMissingImageLeavesTheLoginWindowOpenAndIsNamedInTheRunLog) {
  const fs::path logo = dir() / "res" / "login" / "logo.png";
  ASSERT_TRUE(fs::remove(logo));
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitWindow("UILoginWnd"));
  EXPECT_EQ(Ctl("get UILoginWnd LOGINBTN --attr visible").out, "true") << "the window opens with what it has";
  // The run log opens with the controller's start-up; the line waits for it.
  std::string logged;
  EXPECT_TRUE(WaitUntil(
      [&] {
        logged.clear();
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir() / "log", ec)) logged += ReadFile(entry.path());
        return logged.find("image missing or unreadable: " + logo.string()) != std::string::npos;
      },
      "the run log to name the missing image"))
      << "the run log holds: " << logged;
}

}  // namespace
}  // namespace orlin
