// Windows: modal loops, messages across threads, tray icon and menus.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "ui/dui/menu_wnd.h"
#include "ui/dui/tests/dui_fixture.h"
#include "ui/dui/tray_icon.h"

namespace orlin::dui::testing {
namespace {

const char kDialogSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="200,100">
  <HorizontalLayout>
    <Button name="OKBTN" text="OK"/>
    <Button name="CANCELBTN" text="Cancel"/>
  </HorizontalLayout>
</Window>)";

const char kMenuSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="120,10">
  <VerticalLayout inset="2,2,2,2">
    <Menu name="MENU" inset="0,4,0,4"/>
  </VerticalLayout>
</Window>)";

class DialogWindow : public RecordingWindow {
 public:
  DialogWindow() : RecordingWindow(L"dialog.xml") {}
  void Notify(TNotifyUI& msg) override {
    RecordingWindow::Notify(msg);
    if (msg.sType != kEventClick) return;
    if (msg.pSender->GetName() == L"OKBTN") Close(kModalOk);
    if (msg.pSender->GetName() == L"CANCELBTN") Close(kModalCancel);
  }
};

class WindowTest : public DuiTest {
 protected:
  void SetUp() override {
    DuiTest::SetUp();
    WriteSkin("dialog.xml", kDialogSkin);
    WriteSkin("menu.xml", kMenuSkin);
  }
};

TEST_F(WindowTest, ShowModalReturnsTheValueGivenToClose) {
  for (auto [button, expected] : {std::pair{L"OKBTN", 1}, std::pair{L"CANCELBTN", 2}}) {
    std::wstring name = button;
    backend->SetModalHook([name](WindowImplBase& w) {
      w.GetHWND()->Dispatch([&w, name] { ClickControl(w, name); });
    });
    DialogWindow w;
    ASSERT_TRUE(w.Create(nullptr, L"dlg", kWsPopup, 0));
    EXPECT_EQ(w.ShowModal(), expected);
    EXPECT_FALSE(w.IsWindow());
    // "windowinit" was handled by the modal loop before the click.
    EXPECT_THAT(w.TakeNotes(), ::testing::ElementsAre(L"windowinit:", L"click:" + name));
  }
  // A window message WM_CLOSE ends it too, with its wParam.
  backend->SetModalHook([](WindowImplBase& w) { w.PostMessageW(kWmClose, 7, 0); });
  DialogWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"dlg", kWsPopup, 0));
  EXPECT_EQ(w.ShowModal(), 7);
}

TEST_F(WindowTest, CloseFromAnotherThreadEndsAModalLoopAndEarlyCloseReturnsAtOnce) {
  DialogWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"dlg", kWsPopup, 0));
  std::thread closer;
  backend->SetModalHook([&](WindowImplBase& win) { closer = std::thread([&win] { win.Close(5); }); });
  EXPECT_EQ(w.ShowModal(), 5);
  closer.join();

  backend->SetModalHook(nullptr);
  DialogWindow early;
  ASSERT_TRUE(early.Create(nullptr, L"dlg", kWsPopup, 0));
  early.Close(kModalOk);
  EXPECT_EQ(early.ShowModal(), kModalOk);

  DialogWindow missing;
  EXPECT_EQ(missing.ShowModal(), -1);
  RecordingWindow noSkin(L"does-not-exist.xml");
  EXPECT_FALSE(noSkin.Create(nullptr, L"x", 0, 0));
}

TEST_F(WindowTest, ModalWindowsRunOnTheirOwnThreadsIndependently) {
  // Two message windows at once, each with its loop on its own thread.
  backend->SetModalHook([](WindowImplBase& w) { ClickControl(w, w.GetWindowName()); });
  int results[2] = {0, 0};
  std::thread a([&] {
    DialogWindow w;
    if (w.Create(nullptr, L"OKBTN", 0, 0)) results[0] = w.ShowModal();
  });
  std::thread b([&] {
    DialogWindow w;
    if (w.Create(nullptr, L"CANCELBTN", 0, 0)) results[1] = w.ShowModal();
  });
  a.join();
  b.join();
  EXPECT_EQ(results[0], 1);
  EXPECT_EQ(results[1], 2);
}

TEST_F(WindowTest, PostedMessagesArriveInOrderPerSenderAndSentMessagesReturnResults) {
  DialogWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"dlg", 0, 0));
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&w, t] {
      for (int i = 0; i < kEach; ++i) w.Post(kWmUserBase + 100 + t, static_cast<std::uintptr_t>(i), 0);
    });
  }
  // A sent message from another thread blocks until the window's thread has
  // handled it, and gets the handler's answer.
  std::intptr_t sentResult = 0;
  std::thread sender([&] { sentResult = w.Send(kWmUserBase + 50, 21, 0); });
  int handled = 0;
  while (handled < kThreads * kEach + 1) {
    handled += backend->Pump();
    std::this_thread::yield();
    std::lock_guard lock(w.mutex);
    handled = static_cast<int>(w.messages.size());
  }
  for (auto& s : senders) s.join();
  sender.join();
  EXPECT_EQ(sentResult, 42);
  std::vector<std::uintptr_t> last(kThreads, 0);
  std::vector<int> seen(kThreads, 0);
  for (auto [msg, wParam] : w.messages) {
    if (msg == kWmUserBase + 50) continue;
    int t = static_cast<int>(msg - kWmUserBase - 100);
    if (seen[t] > 0) EXPECT_EQ(wParam, last[t] + 1);
    else EXPECT_EQ(wParam, 0u);
    last[t] = wParam;
    ++seen[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], kEach);
  // On its own thread a sent message runs at once.
  EXPECT_EQ(w.SendMessageW(kWmUserBase + 50, 4, 0), 8);
}

TEST_F(WindowTest, MessagesQueuedForAWindowThatWentAwayAreDropped) {
  std::vector<std::pair<unsigned, std::uintptr_t>>* seen = nullptr;
  {
    DialogWindow w;
    ASSERT_TRUE(w.Create(nullptr, L"dlg", 0, 0));
    w.Post(kWmUserBase + 9, 1, 0);
    seen = &w.messages;
    EXPECT_TRUE(seen->empty());
  }
  // The queued message and "windowinit" find no window and are dropped.
  EXPECT_EQ(backend->Pump(), 2);
}

TEST_F(WindowTest, TrayIconPostsItsCallbackMessageWithTheMouseMessage) {
  DialogWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"dlg", 0, 0));
  CTrayIcon tray;
  ASSERT_TRUE(tray.CreateTrayIcon(&w, 128, L"Orlin"));
  EXPECT_TRUE(tray.IsVisible());
  backend->ClickTray(517);
  backend->Pump();
  ASSERT_FALSE(w.messages.empty());
  EXPECT_EQ(w.messages.back().first, kWmTrayCallback);
  tray.DeleteTrayIcon();
  backend->ClickTray(513);
  w.messages.clear();
  backend->Pump();
  EXPECT_TRUE(w.messages.empty());

  // Without a notification area there is no icon, the caller is told, and
  // the window is not hidden into it.
  backend->SetHasSystemTray(false);
  EXPECT_FALSE(CTrayIcon::IsSystemTrayAvailable());
  EXPECT_FALSE(tray.CreateTrayIcon(&w, 128, L"Orlin"));
  EXPECT_FALSE(tray.IsVisible());
  w.ShowWindow();
  EXPECT_FALSE(HideToTray(w, tray));
  EXPECT_TRUE(w.GetHWND()->IsShown());
  backend->SetHasSystemTray(true);
  ASSERT_TRUE(tray.CreateTrayIcon(&w, 128, L"Orlin"));
  EXPECT_TRUE(HideToTray(w, tray));
  EXPECT_FALSE(w.GetHWND()->IsShown());
}

TEST_F(WindowTest, MenuClickPostsTheCommandRecordToTheOwnerAndCloses) {
  DialogWindow owner;
  ASSERT_TRUE(owner.Create(nullptr, L"main", 0, 0));
  owner.texts.Add({L"menu_exit", L"Exit", L"退出"});
  CResourceManager::GetInstance().SetTextQueryInterface(&owner);

  auto menu = std::make_unique<CMenuWnd>();
  ASSERT_TRUE(menu->Init(nullptr, L"menu.xml", Point{500, 500}, &owner.GetPaintManager(), nullptr,
                         CMenuWnd::kAlignLeft | CMenuWnd::kAlignBottom));
  CMenuUI* container = menu->GetMenuUI();
  ASSERT_NE(container, nullptr);
  container->Add(CMenuWnd::NewTextIdElement(L"MENU_EXIT", L"menu_exit", L"res\\tray\\exit.png", Size{16, 16}));
  container->Add(CMenuWnd::NewTextElement(L"LANG_CHINESE", L"简体中文"));
  menu->ResizeMenu();
  EXPECT_EQ(menu->GetPaintManager().FindControl(L"MENU_EXIT")->GetText(), L"Exit");
  // Opens above and to the right of the point, as tall as its items.
  Rect r = menu->GetHWND()->GetRect();
  EXPECT_EQ(r.left, 500);
  EXPECT_EQ(r.bottom, 500);
  EXPECT_EQ(r.Height(), 30 + 30 + 8 + 4);

  ClickControl(*menu, L"LANG_CHINESE");
  EXPECT_FALSE(menu->IsWindow());
  backend->Pump();
  EXPECT_THAT(owner.menuCommands, ::testing::ElementsAre(L"LANG_CHINESE"));
  // A skin without a menu container gives none.
  WriteSkin("plain.xml", kDialogSkin);
  CMenuWnd plain;
  ASSERT_TRUE(plain.Init(nullptr, L"plain.xml", Point{0, 0}, &owner.GetPaintManager()));
  EXPECT_EQ(plain.GetMenuUI(), nullptr);
  CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
}

TEST_F(WindowTest, ShowCommandsSetTheWindowStateAndDisabledWindowsTakeNoClicks) {
  DialogWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"dlg", 0, 0));
  w.ShowWindowCommand(kSwMaximize);
  EXPECT_TRUE(w.IsZoomed());
  EXPECT_FALSE(w.IsIconic());
  w.ShowWindowCommand(kSwMinimize);
  EXPECT_TRUE(w.IsIconic());
  EXPECT_TRUE(w.GetHWND()->IsShown());
  w.ShowWindowCommand(kSwRestore);
  EXPECT_FALSE(w.IsIconic());
  EXPECT_FALSE(w.IsZoomed());
  w.ShowWindowCommand(kSwHide);
  EXPECT_FALSE(w.GetHWND()->IsShown());
  w.ShowWindowCommand(kSwShowNormal);
  EXPECT_TRUE(w.GetHWND()->IsShown());

  w.EnableWindow(false);
  EXPECT_FALSE(w.IsWindowEnabled());
  w.TakeNotes();
  ClickControl(w, L"OKBTN");
  EXPECT_TRUE(w.TakeNotes().empty());
  EXPECT_TRUE(w.IsWindow());
  w.EnableWindow(true);
  ClickControl(w, L"OKBTN");
  EXPECT_FALSE(w.IsWindow());

  w.SetExStyle(kWsExToolWindow);
  EXPECT_EQ(w.GetExStyle(), kWsExToolWindow);
}

TEST_F(WindowTest, WindowsAreFoundByClassAndNameWhileTheyExist) {
  EXPECT_EQ(WindowImplBase::FindWindow(L"TestWnd", L"main"), nullptr);
  {
    DialogWindow w;
    ASSERT_TRUE(w.Create(nullptr, L"main", 0, 0));
    EXPECT_EQ(WindowImplBase::FindWindow(L"TestWnd", L"main"), &w);
    EXPECT_EQ(WindowImplBase::FindWindow(L"TestWnd", L""), &w);
    EXPECT_EQ(WindowImplBase::FindWindow(L"OtherWnd", L"main"), nullptr);
    w.Close(1);
    backend->Pump();
    EXPECT_EQ(WindowImplBase::FindWindow(L"TestWnd", L"main"), nullptr);
  }
  DialogWindow gone;
  ASSERT_TRUE(gone.Create(nullptr, L"main", 0, 0));
  EXPECT_NE(WindowImplBase::FindWindow(L"TestWnd", L"main"), nullptr);
}

// A window that opens a modal dialog from a message handler, as the main
// window shows a message while the poller keeps posting to it.
class OpenerWindow : public RecordingWindow {
 public:
  OpenerWindow() : RecordingWindow(L"dialog.xml") {}
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled) override {
    if (msg == kWmUserBase + 1) {
      handled = true;
      DialogWindow dialog;
      if (dialog.Create(this, L"dlg", kWsPopup, 0)) modalResult = dialog.ShowModal();
      return 0;
    }
    return RecordingWindow::HandleCustomMessage(msg, wParam, lParam, handled);
  }
  int modalResult = 0;
};

TEST_F(WindowTest, MessagesKeepArrivingWhileAHandlerRunsAModalLoop) {
  OpenerWindow main;
  ASSERT_TRUE(main.Create(nullptr, L"main", 0, 0));
  backend->SetModalHook([&main](WindowImplBase& dialog) {
    main.Post(kWmUserBase + 7, 70, 0);
    main.Post(kWmUserBase + 7, 71, 0);
    dialog.GetHWND()->Dispatch([&dialog] { ClickControl(dialog, L"OKBTN"); });
  });
  main.Post(kWmUserBase + 1, 0, 0);
  backend->Pump();
  EXPECT_EQ(main.modalResult, kModalOk);
  std::vector<std::uintptr_t> seen;
  for (auto [msg, wParam] : main.messages) {
    if (msg == kWmUserBase + 7) seen.push_back(wParam);
  }
  EXPECT_THAT(seen, ::testing::ElementsAre(70u, 71u));
}

TEST_F(WindowTest, CentresOnTheWorkArea) {
  DialogWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"dlg", 0, 0));
  w.CenterWindow();
  Rect r = w.GetHWND()->GetRect();
  EXPECT_EQ(r, (Rect{860, 490, 1060, 590}));
}

}  // namespace
}  // namespace orlin::dui::testing
