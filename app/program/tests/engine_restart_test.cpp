// The main window with the real engine controller and the real engine, in a
// private network: an engine killed while the window shows is brought back
// by the window's data thread, and the window and its poller go on. Prints
// how long the engine was gone.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/controller/engine_controller.h"
#include "common/clock.h"
#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "ui/dui/headless_backend.h"
#include "ui/main/orlin_frame_wnd.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 120s;

class QuietPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& key, bool) override {
    std::lock_guard lock(mutex);
    keys.push_back(key);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override {}
  std::mutex mutex;
  std::vector<std::wstring> keys;
};

class EngineRestart : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    install = std::make_unique<testsupport::ScratchInstall>();
    ASSERT_EQ(install->error(), "");
    table = std::make_unique<testsupport::InstallProcessTable>(*install);
    backend = std::make_shared<dui::HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetResourcePath(ORLIN_PROGRAM_DIR);
    dui::CPaintManagerUI::SetInstance(install->installDir());
  }
  void TearDown() override {
    frame.reset();  // the controller stops its engine
    if (backend) dui::UiBackend::Install(nullptr);
  }

  bool PumpUntil(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      backend->Pump();
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  std::unique_ptr<testsupport::ScratchInstall> install;
  std::unique_ptr<testsupport::InstallProcessTable> table;
  std::shared_ptr<dui::HeadlessBackend> backend;
  QuietPresenter presenter;
  SystemClock clock;
  std::unique_ptr<COrlinFrameWnd> frame;
};

TEST_F(EngineRestart, AKilledEngineIsBroughtBackByTheDataThreadAndTheWindowGoesOn) {
  FrameServices s;
  s.makeController = [this](COrlinFrameWnd& window) -> std::unique_ptr<Controller> {
    EngineControllerOptions options;
    options.statusView = &window;
    return std::make_unique<EngineController>(install->layout(), *table, presenter, clock, &window, options);
  };
  // No account is needed to keep an engine running.
  s.runLogin = [](Controller&) { return kModalOk; };
  s.installDir = install->installDir();
  s.quit = [] {};
  frame = std::make_unique<COrlinFrameWnd>(std::move(s));
  ASSERT_TRUE(frame->Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0));
  ASSERT_TRUE(PumpUntil([&] { return frame->IsStarted() && frame->IsDataThreadRunning(); }, "the main view"));
  auto* controller = dynamic_cast<EngineController*>(frame->GetController());
  ASSERT_NE(controller, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return controller->AnswersHandled() > 3; }, "the poller's first answers"));

  const int starts = table->starts();
  const auto before = install->EngineProcesses();
  ASSERT_FALSE(before.empty());
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_TRUE(install->KillEngineProcesses());
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (auto pid : install->EngineProcesses()) {
          if (std::find(before.begin(), before.end(), pid) == before.end()) return true;
        }
        return false;
      },
      "a new engine process"));
  const auto back = std::chrono::steady_clock::now();
  EXPECT_GT(table->starts(), starts) << "the engine was started again through the controller";
  auto key = install->ReadApiKey();
  ASSERT_TRUE(key.has_value());
  ASSERT_TRUE(install->WaitForRest(*key, kDeadline)) << "the new engine's REST interface";
  const auto answering = std::chrono::steady_clock::now();
  std::printf("engine killed -> new engine process: %lld ms, -> REST answering: %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(back - killed).count()),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(answering - killed).count()));

  // The window still answers and the poller takes answers from the new
  // engine.
  const auto answers = controller->AnswersHandled();
  ASSERT_TRUE(PumpUntil([&] { return controller->AnswersHandled() > answers + 5; }, "answers after the restart"));
  EXPECT_EQ(frame->SendMessageW(kMsgPathInUse, 0), 0);
  EXPECT_TRUE(frame->IsDataThreadRunning());
}

}  // namespace
}  // namespace orlin
