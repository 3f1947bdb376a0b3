// The main window as the Windows program shows it: the Win32 backend (under
// Wine in the Windows stage), the product's skins and images, the real
// status lists and tray menu, the fake controller. Every text of the
// toolbar, status area and tab row fits its control in both languages with
// GDI+'s measures; the sync events show in the list's view; keys with their
// modifiers reach the window as window messages; a picture of each language
// is written where ORLIN_SCREENSHOT_DIR points.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dui/win32/win32_backend.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/orlin_frame_wnd.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
using testing::FakeController;
namespace fs = std::filesystem;

SyncEventRecord Event(const char* action, const char* path, const char* time) {
  SyncEventRecord r;
  SetField(r.action, action);
  SetField(r.path, path);
  SetField(r.time, time);
  return r;
}

class MainWindowWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<dui::Win32Backend>();
    dui::UiBackend::Install(backend);
    const fs::path source(ORLIN_SOURCE_DIR);
    for (const auto& entry : fs::directory_iterator(source / "skins")) {
      fs::copy_file(entry.path(), resources.path() / entry.path().filename());
    }
    fs::copy(source / "res", resources.path() / "res", fs::copy_options::recursive);
    dui::CPaintManagerUI::SetResourcePath(resources.path());
    dui::CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override {
    frame.reset();
    dui::UiBackend::Install(nullptr);
    backend.reset();
  }

  void Start(const std::wstring& language) {
    FrameServices s;
    s.makeController = [this, language](COrlinFrameWnd&) {
      auto c = std::make_unique<FakeController>();
      c->settings.language = language;
      c->settings.syncFolderPath = L"C:\\Users\\Ann\\Orlin 同步";
      c->settings.dpi = 96;
      c->model.syncEvents.AppendCapped(Event("Local modified", "reports/2020/summary.docx", "2020-03-01  10:11:12"));
      c->model.syncEvents.AppendCapped(Event("Remote added", "photos/海边/IMG_0412.jpg", "2020-03-01  10:12:40"));
      c->model.syncEvents.AppendCapped(Event("Local deleted", "notes.txt", "2020-03-01  10:13:05"));
      c->model.syncEvents.MarkChanged();
      c->model.UpdateSummary([](SystemSummary& summary) {
        summary.fileCountText = L"1284";
        summary.folderCountText = L"97";
        summary.sizeText = L"3.42 GiB";
        summary.uploadText = L"128 KiB/s (1.20 GiB)";
        summary.downloadText = L"2.50 MiB/s (12.8 GiB)";
      });
      controller = c.get();
      return c;
    };
    s.makeLists = [](COrlinFrameWnd& w) { return MakeStatusListsPart(w, w, {}); };
    s.makeTray = [](COrlinFrameWnd& w) { return MakeTrayMenuPart(w, w); };
    s.installDir = dir.path();
    s.openFolder = [](const fs::path&) { return true; };
    s.openUrl = [](const std::string&) { return true; };
    s.quit = [] {};
    frame = std::make_unique<COrlinFrameWnd>(std::move(s));
    ASSERT_TRUE(frame->Create(nullptr, kMainWindowTitle, 0x80CF0000u, 0));
    ASSERT_TRUE(Until([&] { return frame->IsStarted() && controller->Count("StartSync") == 1; },
                      "the main view and its first resume"));
    frame->SendMessageW(kMsgTotalsChanged);
    frame->SendMessageW(kMsgRatesChanged);
    frame->SetStatusLabel(L"Syncing_Event");
    frame->SetProgress(64);
    ASSERT_TRUE(Until([&] { return controller->Count("EnsureEngineRunning") >= 2; }, "the data thread"));
  }

  bool Until(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + 120s;
    while (!done()) {
      backend->HandleMessagesFor(10ms);
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what;
        return false;
      }
    }
    backend->HandleMessagesFor(20ms);
    return true;
  }

  // Every visible single-line text of the toolbar, status area and tab row
  // fits its control.
  void ExpectChromeFits(const char* language) {
    auto& pm = frame->GetPaintManager();
    auto lock = pm.ModelLock();
    pm.LayoutIfNeeded();
    for (const wchar_t* area : {L"TOOLBAR", L"STATUSAREA", L"TABBAR"}) {
      dui::CControlUI* root = pm.FindControl(area);
      ASSERT_NE(root, nullptr);
      root->Visit([&](dui::CControlUI& c) {
        if (!c.IsVisibleInTree() || c.GetText().empty() ||
            (c.GetTextStyle() & (dui::kDtEndEllipsis | dui::kDtWordBreak))) {
          return true;
        }
        const std::string name(c.GetName().begin(), c.GetName().end());
        const dui::Size text = pm.MeasureText(c.GetText(), c.GetFont(), c.GetTextStyle());
        const dui::Rect pad = c.GetTextPadding();
        EXPECT_LE(text.cx, c.GetPos().Width() - pm.Scale(pad.left + pad.right))
            << language << ": the text of " << name << " is cut";
        EXPECT_LE(text.cy, c.GetPos().Height()) << language << ": " << name << " is too low for its text";
        return true;
      });
    }
  }

  void Shoot(const std::string& file) {
    const char* out = std::getenv("ORLIN_SCREENSHOT_DIR");
    if (!out) return;
    backend->HandleMessagesFor(100ms);
    EXPECT_TRUE(dui::GrabWindow(frame->GetHWND(), fs::path(out) / file));
  }

  HWND Hwnd() { return static_cast<HWND>(dui::NativeHandleOf(frame->GetHWND())); }

  std::shared_ptr<dui::Win32Backend> backend;
  testsupport::TempDir resources, dir;
  std::unique_ptr<COrlinFrameWnd> frame;
  FakeController* controller = nullptr;
};

TEST_F(MainWindowWin32Test, EveryTextFitsInEnglishAndChineseAndTheEventsShowInTheListsView) {
  Start(L"en");
  ASSERT_EQ(::FindWindowW(L"UIOrlinFrameWnd", L"Orlin"), Hwnd());
  frame->SendMessageW(kMsgOverrideAvailable, 1);
  frame->GetPaintManager().FindControl(L"REVERTBTN")->SetVisible(true);
  frame->SendMessageW(kMsgFailedCount, 2);
  auto* events = dynamic_cast<dui::CListUI*>(frame->GetPaintManager().FindControl(L"SYNCEVENTSLIST"));
  ASSERT_NE(events, nullptr);
  ASSERT_TRUE(Until([&] { return events->GetCount() == 3; }, "the three sync events in their list"));
  // One view for the list, placed over its rows.
  HWND view = ::FindWindowExW(Hwnd(), nullptr, L"OrlinListView", nullptr);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(::IsWindowVisible(view));
  ExpectChromeFits("en");
  Shoot("main-en.png");

  frame->SendMessageW(kMsgLanguageChanged, 1);
  Until([] { return true; }, "");
  EXPECT_EQ(frame->GetPaintManager().FindControl(L"REFRESHBTN")->GetText(), L"刷新");
  ExpectChromeFits("zh_cn");
  Shoot("main-zh_cn.png");
}

TEST_F(MainWindowWin32Test, CtrlShiftLAsAKeyMessageShowsAndHidesTheLogTab) {
  Start(L"en");
  auto* log = frame->GetPaintManager().FindControl(L"LOGBTN");
  ASSERT_FALSE(log->IsVisible());
  // The modifiers as the keyboard holds them when the key comes.
  auto key = [&](bool shift) {
    BYTE state[256] = {};
    ::GetKeyboardState(state);
    state[VK_CONTROL] = 0x80;
    state[VK_SHIFT] = shift ? 0x80 : 0;
    ::SetKeyboardState(state);
    ::SendMessageW(Hwnd(), WM_KEYDOWN, 'L', 1);
    state[VK_CONTROL] = state[VK_SHIFT] = 0;
    ::SetKeyboardState(state);
  };
  key(true);
  EXPECT_TRUE(log->IsVisible());
  key(false);
  EXPECT_TRUE(log->IsVisible()) << "Ctrl+L alone does nothing";
}

// The tray's Exit while the poller's thread keeps sending to the window, as
// its answers come in: the exit completes, and once the window is gone each
// further send returns at once, so the UI thread can wait for the poller's
// end (as the controller's shutdown does) without a deadlock.
TEST_F(MainWindowWin32Test, ExitWhileThePollerSendsToTheWindowEndsAndLeavesNoSendWaiting) {
  Start(L"en");
  const HWND hwnd = Hwnd();
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::thread poller([&] {
    while (!stop.load()) {
      frame->Send(kMsgTotalsChanged, 0, 0);
      sent.fetch_add(1);
    }
  });
  ASSERT_TRUE(Until([&] { return sent.load() > 20; }, "the poller's messages to be answered"));
  frame->SendMessageW(kMsgQuit);
  const bool ended = Until([&] { return controller->Count("StopEngines") == 1 && !::IsWindow(hwnd); },
                           "the exit to stop the engines and destroy the window");
  // Sends to the window that is gone: no UI thread handles them any more.
  const int before = sent.load();
  const auto end = std::chrono::steady_clock::now() + 120s;
  while (sent.load() < before + 20 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  EXPECT_GE(sent.load(), before + 20) << "a send to the destroyed window did not return";
  stop = true;
  poller.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(controller->Count("StopSync"), 1);
}

}  // namespace
}  // namespace orlin
