// orlin-ctl against the automation of windows on the headless backend, over
// the real channel: what it prints, its exit codes and its messages.

#include "tools/orlin-ctl/ctl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "ui/dui/automation/automation_server.h"
#include "ui/dui/tests/dui_fixture.h"

namespace orlin::ctl {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="300,100">
  <HorizontalLayout>
    <Edit name="USERNAME"/>
    <Button name="LOGINBTN" text="Login" enabled="false"/>
    <Label name="STATUS" text="Scanning"/>
  </HorizontalLayout>
</Window>)";

class NamedWindow : public dui::testing::RecordingWindow {
 public:
  explicit NamedWindow(std::wstring windowClass) : RecordingWindow(L"login.xml"), class_(std::move(windowClass)) {}
  std::wstring GetWindowClassName() const override { return class_; }

 private:
  std::wstring class_;
};

struct CtlRun {
  int exitCode = -1;
  std::string out, err;
};

class OrlinCtlTest : public dui::testing::DuiTest {
 protected:
  void SetUp() override {
    DuiTest::SetUp();
    WriteSkin("login.xml", kSkin);
    ASSERT_TRUE(login.Create(nullptr, L"Login - Orlin", dui::kWsPopup, 0));
    login.ShowWindow(true);
    backend->Pump();
    auto queue = backend->QueueOfThisThread();
    server = std::make_unique<automation::AutomationServer>(
        [queue](std::function<void()> task) { queue->Push(std::move(task)); });
    std::string error;
    ASSERT_TRUE(server->Start(dir.path(), &error)) << error;
  }
  void TearDown() override {
    server->Stop();
    DuiTest::TearDown();
  }

  // Runs orlin-ctl on a thread of its own while this thread, the UI thread,
  // keeps handling messages; `meanwhile` runs on this thread between pumps.
  CtlRun Ctl(std::vector<std::string> args, const std::function<void()>& meanwhile = {}) {
    CtlRun run;
    std::atomic<bool> done{false};
    std::ostringstream out, err;
    std::thread client([&] {
      run.exitCode = ::orlin::ctl::Run(args, dir.path(), out, err);
      done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done && std::chrono::steady_clock::now() < deadline) {
      backend->Pump();
      if (meanwhile) meanwhile();
      std::this_thread::sleep_for(2ms);
    }
    client.join();
    EXPECT_TRUE(done) << "orlin-ctl did not end within 120 s";
    run.out = out.str();
    run.err = err.str();
    return run;
  }

  NamedWindow login{L"UILoginWnd"};
  std::unique_ptr<automation::AutomationServer> server;
};

TEST_F(OrlinCtlTest, CommandsPrintTheirAnswersAndExitWithZero) {
  CtlRun run = Ctl({"windows"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "UILoginWnd\tLogin - Orlin\tvisible\n");

  run = Ctl({"set", "UILoginWnd", "USERNAME", "--ann--"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  run = Ctl({"get", "UILoginWnd", "USERNAME"});
  EXPECT_EQ(run.out, "--ann--\n");
  run = Ctl({"get", "UILoginWnd", "LOGINBTN", "--attr", "enabled"});
  EXPECT_EQ(run.out, "false\n");
  // --install-dir names the directory whose program is meant.
  run = Ctl({"--install-dir", dir.path().string(), "get", "UILoginWnd", "STATUS"});
  EXPECT_EQ(run.out, "Scanning\n");
}

TEST_F(OrlinCtlTest, WhatTheProgramRefusesExitsWithOneAndItsReason) {
  CtlRun run = Ctl({"click", "UILoginWnd", "LOGINBTN"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "orlin-ctl: LOGINBTN is disabled\n");
  EXPECT_EQ(run.out, "");
  run = Ctl({"get", "UIOrlinFrameWnd", "SYNCBTN"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "orlin-ctl: no window of class UIOrlinFrameWnd is open\n");
}

TEST_F(OrlinCtlTest, WaitPollsUntilTheTextOrTheWindowIsThereOrTimesOut) {
  int pumps = 0;
  auto later = [&] {
    // Some time after the wait began, the window changes its text.
    if (++pumps == 100) login.GetPaintManager().FindControl(L"STATUS")->SetText(L"Up to date");
  };
  CtlRun run = Ctl({"wait", "UILoginWnd", "STATUS", "Up to date", "--timeout", "120"}, later);
  EXPECT_EQ(run.exitCode, 0) << run.err;

  run = Ctl({"wait", "UILoginWnd", "STATUS", "Paused", "--timeout", "0.5"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "orlin-ctl: timed out after 0.5 s waiting for STATUS of UILoginWnd to read \"Paused\" (it reads \"Up to "
            "date\")\n");

  std::unique_ptr<NamedWindow> main;
  pumps = 0;
  auto mainAppears = [&] {
    if (++pumps == 100) {
      main = std::make_unique<NamedWindow>(L"UIOrlinFrameWnd");
      main->Create(nullptr, L"Orlin", dui::kWsPopup, 0);
    }
    if (pumps == 200) main->ShowWindow(true);
  };
  run = Ctl({"wait-window", "UIOrlinFrameWnd", "--timeout", "120"}, mainAppears);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_GE(pumps, 200) << "a hidden window is not yet there for the user";

  run = Ctl({"wait-window", "UISettingWnd", "--timeout", "0.3"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "orlin-ctl: timed out after 0.3 s waiting for a window of class UISettingWnd to be shown\n");
}

TEST(OrlinCtlWordsTest, WrongWordsExitWithOneAndTheUsageBeforeAnythingIsAsked) {
  testsupport::TempDir dir;  // nothing listens here; no word below gets that far
  auto run = [&](std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = ::orlin::ctl::Run(args, dir.path(), out, err);
    EXPECT_EQ(code, 1) << "for " << ::testing::PrintToString(args);
    EXPECT_THAT(err.str(), HasSubstr("usage: orlin-ctl")) << ::testing::PrintToString(args);
    return err.str().substr(0, err.str().find('\n'));
  };
  EXPECT_EQ(run({}), "orlin-ctl: no command");
  EXPECT_EQ(run({"dance"}), "orlin-ctl: unknown command dance");
  EXPECT_EQ(run({"--verbose", "windows"}), "orlin-ctl: unknown option --verbose");
  EXPECT_EQ(run({"--install-dir"}), "orlin-ctl: --install-dir needs a directory");
  EXPECT_EQ(run({"get", "UILoginWnd"}), "orlin-ctl: get takes CLASS and CONTROL");
  EXPECT_EQ(run({"get", "UILoginWnd", "X", "--attr"}), "orlin-ctl: --attr needs a value");
  EXPECT_EQ(run({"set", "UILoginWnd", "X", "--attr", "visible", "t"}), "orlin-ctl: set takes no --attr");
  EXPECT_EQ(run({"select", "UILoginWnd", "X", "-1"}), "orlin-ctl: INDEX is a number from 0, not -1");
  EXPECT_EQ(run({"check", "UIIgnoredWnd", "TREE", "a/b", "yes"}), "orlin-ctl: check takes CLASS, TREE, PATH and on or off");
  EXPECT_EQ(run({"tray", "middle"}), "orlin-ctl: tray takes left or right");
  EXPECT_EQ(run({"wait", "A", "B", "C", "--timeout", "soon"}), "orlin-ctl: --timeout takes a number of seconds, not soon");
  EXPECT_EQ(run({"windows", "all"}), "orlin-ctl: windows takes no words");

  std::ostringstream out, err;
  EXPECT_EQ(::orlin::ctl::Run({"--help"}, dir.path(), out, err), 0);
  EXPECT_THAT(out.str(), HasSubstr("wait-window CLASS"));
}

TEST(OrlinCtlWordsTest, WithoutAListeningProgramItSaysWhatToStart) {
  testsupport::TempDir dir;
  std::ostringstream out, err;
  EXPECT_EQ(::orlin::ctl::Run({"windows"}, dir.path(), out, err), 1);
  EXPECT_THAT(err.str(), HasSubstr("nothing listens at"));
  EXPECT_THAT(err.str(), HasSubstr("ORLIN_AUTOMATION=1"));
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace orlin::ctl
