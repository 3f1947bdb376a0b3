// The main window as the Windows program shows it through the Win32 backend
// (under Wine in the Windows stage), with the product's skins and images
// (the scenarios are ui/main/tests/main_window_scenarios.h, shared with the
// Qt backend's suite): the sync events show in the list's view; keys with
// their modifiers reach the window as window messages; the poller's sends
// end with the window.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ui/dui/win32/win32_backend.h"
#include "ui/main/tests/main_window_scenarios.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class MainWindowWin32Test : public testing::MainWindowScenarios {
 protected:
  MainWindowWin32Test() { syncFolderPath = L"C:\\Users\\Ann\\Orlin 同步"; }

  void InstallBackend() override {
    backend = std::make_shared<dui::Win32Backend>();
    dui::UiBackend::Install(backend);
  }
  fs::path Resources() override {
    const fs::path source(ORLIN_SOURCE_DIR);
    for (const auto& entry : fs::directory_iterator(source / "skins")) {
      fs::copy_file(entry.path(), resources.path() / entry.path().filename());
    }
    fs::copy(source / "res", resources.path() / "res", fs::copy_options::recursive);
    return resources.path();
  }
  void HandleMessagesFor(std::chrono::milliseconds time) override { backend->HandleMessagesFor(time); }
  bool Grab(dui::NativeWindow* window, const fs::path& png) override { return dui::GrabWindow(window, png); }

  HWND Hwnd() { return static_cast<HWND>(dui::NativeHandleOf(frame->GetHWND())); }

  std::shared_ptr<dui::Win32Backend> backend;
  testsupport::TempDir resources;
};

TEST_F(MainWindowWin32Test, EveryTextFitsInEnglishAndChineseAndTheEventsShowInTheListsView) {
  Start(L"en");
  ASSERT_EQ(::FindWindowW(L"UIOrlinFrameWnd", L"Orlin"), Hwnd());
  ShowEveryToolbarButton();
  ASSERT_NO_FATAL_FAILURE(ExpectTheSyncEventsListed());
  // One view for the list, placed over its rows.
  HWND view = ::FindWindowExW(Hwnd(), nullptr, L"OrlinListView", nullptr);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(::IsWindowVisible(view));
  EveryTextFitsInEnglishAndChinese();
}

TEST_F(MainWindowWin32Test, SmallestWindowStillFitsInBothLanguages) {
  Start(L"en");
  SmallestWindowStillFitsInBothLanguages();
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
