// The main window with its own settings window (the real SetWnd.xml on the
// headless backend) and the fake controller: the toolbar and the tray open
// it on their pages, a confirmed record is applied on a worker, and while the
// window or one of its children is open the user is pointed at it.

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs/ignoring_wnd.h"
#include "ui/dialogs/settings_wnd.h"
#include "ui/dui/find_control.h"
#include "ui/dui/headless_backend.h"
#include "ui/main/orlin_frame_wnd.h"

namespace orlin {
namespace {

using testing::FakeController;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kDeadline = 120s;

fs::path SkinDir() { return fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "skins"; }

class FrameSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<dui::HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetResourcePath(SkinDir());
    dui::CPaintManagerUI::SetInstance(dir.path());
    std::ofstream(dir.path() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>en</lang>\n</Orlin>\n";
    sync = dir.path() / "Sync";
    fs::create_directories(sync);
  }
  void TearDown() override {
    backend->SetModalHook(nullptr);
    frame.reset();
    dui::UiBackend::Install(nullptr);
  }

  FrameServices Services() {
    FrameServices s;
    s.makeController = [this](COrlinFrameWnd&) {
      auto c = std::make_unique<FakeController>();
      c->settings.language = L"en";
      c->settings.syncFolderPath = WideFromPath(sync);
      c->settings.dpi = 96;
      fake = c.get();
      return c;
    };
    s.installDir = dir.path();
    s.showOver = [this](dui::WindowImplBase* owner, const std::wstring& key) {
      std::lock_guard lock(mutex);
      shown.push_back((owner ? owner->GetWindowClassName() : L"-") + L"|" + key);
      return kModalOk;
    };
    s.quit = [] {};
    return s;
  }

  void Make() {
    frame = std::make_unique<COrlinFrameWnd>(Services());
    ASSERT_TRUE(frame->Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0));
    ASSERT_TRUE(PumpUntil([&] { return frame->IsStarted(); }, "the main view"));
  }

  bool PumpUntil(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      backend->Pump();
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(1ms);
    }
    backend->Pump();
    return true;
  }

  std::vector<std::wstring> Shown() {
    std::lock_guard lock(mutex);
    return shown;
  }

  testsupport::TempDir dir;
  fs::path sync;
  std::shared_ptr<dui::HeadlessBackend> backend;
  std::unique_ptr<COrlinFrameWnd> frame;
  FakeController* fake = nullptr;
  std::mutex mutex;
  std::vector<std::wstring> shown;
};

TEST_F(FrameSettings, TheToolbarOpensTheConfigurationPageAndOkAppliesTheRecordOnAWorker) {
  Make();
  int page = -1;
  backend->SetModalHook([&](dui::WindowImplBase& w) {
    auto* settings = dynamic_cast<CSettingWnd*>(&w);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(frame->SettingsWindow(), settings);
    EXPECT_EQ(settings->GetWindowName(), L"Settting - Orlin");
    w.GetHWND()->Dispatch([&, settings] {
      page = dui::FindControlAs<dui::CTabLayoutUI>(settings->GetPaintManager(), L"TAB_SWITCH")->GetCurSel();
      dui::FindControlAs<dui::CEditUI>(settings->GetPaintManager(), L"DOWNLOADEEDIT")->UserSetText(L"123");
      dui::ClickControl(*settings, L"OKBTN");
    });
  });
  fake->CloseGate();  // the apply waits: the window must not
  dui::ClickControl(*frame, L"PREFERENCESBTN");
  // The click only asks for the window: it opens once the click is over.
  EXPECT_EQ(page, -1);
  backend->Pump();
  EXPECT_EQ(page, 1);
  EXPECT_EQ(frame->SettingsWindow(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return fake->Count("ApplySettings") == 1; }, "the apply to start"));
  EXPECT_TRUE(frame->IsApplyingSettings());
  // While the record is applied, the settings are not offered again.
  backend->SetModalHook([&](dui::WindowImplBase&) { ADD_FAILURE() << "a second settings window opened"; });
  frame->Settings();
  backend->Pump();
  fake->OpenGate();
  ASSERT_TRUE(PumpUntil([&] { return !frame->IsApplyingSettings(); }, "the apply to end"));
  ASSERT_EQ(fake->Applied().size(), 1u);
  EXPECT_EQ(fake->Applied()[0].receiveLimit, 123);
  EXPECT_EQ(frame->SettingsCopy().receiveLimit, 123);
}

TEST_F(FrameSettings, CancelAppliesNothing) {
  Make();
  backend->SetModalHook([&](dui::WindowImplBase& w) {
    w.GetHWND()->Dispatch([&w] { dui::ClickControl(w, L"CANCELBTN"); });
  });
  frame->Settings();
  backend->Pump();
  backend->Pump();
  EXPECT_EQ(fake->Count("ApplySettings"), 0u);
  EXPECT_FALSE(frame->IsApplyingSettings());
}

TEST_F(FrameSettings, AnOpenSettingsWindowIsPointedAtByItsPageState) {
  Make();
  CSettingWnd* settings = nullptr;
  int pageAfterTray = -1;
  std::vector<int> logOffAsked;
  backend->SetModalHook([&](dui::WindowImplBase& w) {
    if (auto* s = dynamic_cast<CSettingWnd*>(&w)) {
      settings = s;
      w.GetHWND()->Dispatch([&] {
        // Page state 0: the tray's Setting brings it forward on the general page.
        frame->Settings();
        backend->Pump();
        pageAfterTray = dui::FindControlAs<dui::CTabLayoutUI>(settings->GetPaintManager(), L"TAB_SWITCH")->GetCurSel();
        // A log-off is refused over it.
        frame->LogOff();
        // Page state 2: the selective synchronisation window is open.
        settings->OpenSelectiveSync();
        dui::ClickControl(*settings, L"CANCELBTN");
      });
    } else if (auto* ignoring = dynamic_cast<CIgnoredWnd*>(&w)) {
      w.GetHWND()->Dispatch([&, ignoring] {
        EXPECT_EQ(settings->ChildState(), CSettingWnd::kSelectiveSync);
        frame->Settings();
        backend->Pump();
        frame->LogOff();
        dui::ClickControl(*ignoring, L"CANCELBTN");
      });
    }
  });
  dui::ClickControl(*frame, L"PREFERENCESBTN");
  backend->Pump();
  EXPECT_EQ(pageAfterTray, 0);
  EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"UISetWnd|Btn_State_SettingWnd", L"UIIgnoredWnd|Btn_State_Ignore",
                                                L"UIIgnoredWnd|Btn_State_Ignore"}));
  EXPECT_EQ(fake->Count("LogOff"), 0u);
  EXPECT_EQ(fake->Count("ApplySettings"), 0u);
}

}  // namespace
}  // namespace orlin
