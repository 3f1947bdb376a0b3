// The Win32 backend with real native windows (under Wine in the Windows
// stage): input as window messages reaches the model and Notify, the look
// follows the model, native edits, combo boxes and list views stay in step,
// messages cross threads as Win32 messages do, modal windows return their
// results on any thread, and the tray, the menu, WM_COPYDATA and DPI
// changes arrive as the windows expect them.

#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <thread>

#include "common/text.h"
#include "platform/window_lookup.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs/msg_wnd.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/tray_icon.h"
#include "ui/dui/win32/win32_backend.h"
#include "ui/dui/win32/win32_tray.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::dui {
namespace {

using namespace std::chrono_literals;

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="320,240" caption="0,0,0,30" sizebox="4,4,4,4">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <HorizontalLayout height="40">
      <Button name="BTN" width="100" text="" bkcolor="#FF102030" hotbkcolor="#FF405060" pushedbkcolor="#FF708090"/>
      <Edit name="EDIT" width="120" textpadding="4,0,4,0" bkcolor="#FFF0F0F0" prompttext="User name"/>
      <Combo name="COMBO" width="60"><ListLabelElement text="one"/><ListLabelElement text="two"/></Combo>
    </HorizontalLayout>
    <List name="LIST" itemheight="20" itemhotbkcolor="#FFEEEEEE">
      <ListHeader height="20"><ListHeaderItem text="File"/></ListHeader>
    </List>
  </VerticalLayout>
</Window>)";

const char kRow[] = R"(<ListContainerElement height="20"><Label name="FILELABEL"/></ListContainerElement>)";

const char kMenuSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="160,40"><VerticalLayout bkcolor="#FFFFFFFF"><Menu name="MENU"/></VerticalLayout></Window>)";

class TestWindow : public WindowImplBase {
 public:
  explicit TestWindow(std::wstring cls = L"Win32TestWnd") : class_(std::move(cls)) {}
  std::wstring GetWindowClassName() const override { return class_; }
  std::wstring GetSkinFile() override { return L"win.xml"; }
  void Notify(TNotifyUI& msg) override {
    std::lock_guard lock(mutex);
    notes.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L""));
    if (closeOnClick && msg.sType == kEventClick) Close(kModalOk);
  }
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled) override {
    if (onMessage) {
      if (auto r = onMessage(msg, wParam, lParam)) {
        handled = true;
        return *r;
      }
    }
    if (msg == kWmDpiChanged) {
      ApplyDPI(LOWORD(wParam));
      handled = true;
      return 0;
    }
    if (msg == kWmCopyData) {
      handled = true;
      std::lock_guard lock(mutex);
      copied.push_back(platform::CopyDataPath(*reinterpret_cast<const platform::CopyDataMessage*>(lParam)));
      return 1;
    }
    if (msg < kWmUserBase) return 0;
    handled = true;
    std::lock_guard lock(mutex);
    threadsOk = threadsOk && ::GetCurrentThreadId() == ownThread;
    if (msg == kWmMenuCommand && wParam) {
      auto* cmd = reinterpret_cast<MenuCmd*>(wParam);
      menuCommands.push_back(cmd->szName);
      CPaintManagerUI::DeletePtr(cmd);
      return 0;
    }
    received.emplace_back(msg, wParam, lParam);
    return static_cast<std::intptr_t>(wParam) + 1;
  }
  std::vector<std::wstring> Notes() {
    std::lock_guard lock(mutex);
    return notes;
  }
  std::size_t Received() {
    std::lock_guard lock(mutex);
    return received.size();
  }
  HWND Hwnd() { return static_cast<HWND>(NativeHandleOf(GetHWND())); }

  std::mutex mutex;
  std::vector<std::wstring> notes, copied, menuCommands;
  std::vector<std::tuple<unsigned, std::uintptr_t, std::intptr_t>> received;
  std::function<std::optional<std::intptr_t>(unsigned, std::uintptr_t, std::intptr_t)> onMessage;
  DWORD ownThread = ::GetCurrentThreadId();
  bool threadsOk = true;
  bool closeOnClick = false;

 private:
  std::wstring class_;
};

// Handles this thread's messages until `done` or the deadline.
bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds deadline = 120s) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpFor(std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  PumpUntil([&] { return std::chrono::steady_clock::now() > end; });
}

Point Centre(CControlUI* c) {
  const Rect& r = c->GetPos();
  return Point{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

LPARAM At(Point p) { return MAKELPARAM(p.x, p.y); }

void Click(HWND hwnd, Point p) {
  ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(p));
  ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(p));
  ::SendMessageW(hwnd, WM_LBUTTONUP, 0, At(p));
}

class Win32BackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<Win32Backend>();
    UiBackend::Install(backend);
    std::ofstream(dir.path() / "win.xml") << kSkin;
    std::ofstream(dir.path() / "row.xml") << kRow;
    std::ofstream(dir.path() / "menu.xml") << kMenuSkin;
    std::filesystem::create_directories(dir.path() / "res" / "icons");
    std::filesystem::copy_file(std::filesystem::path(ORLIN_SOURCE_DIR) / "res" / "icons" / "128.png",
                               dir.path() / "res" / "icons" / "128.png");
    CPaintManagerUI::SetResourcePath(dir.path());
    CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override {
    UiBackend::Install(nullptr);
    backend.reset();
  }

  // The colour at a window point as the window shows it.
  Color PixelAt(WindowImplBase& w, Point p) {
    const auto png = dir.path() / "pixel.png";
    if (!GrabWindow(w.GetHWND(), png)) return 0;
    Gdiplus::Bitmap image(png.wstring().c_str());
    Gdiplus::Color c;
    image.GetPixel(p.x, p.y, &c);
    return c.GetValue();
  }

  testsupport::TempDir dir;
  std::shared_ptr<Win32Backend> backend;
};

TEST_F(Win32BackendTest, MouseMessagesReachNotifyAndTheLookFollowsTheModel) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  w.ShowWindow();
  HWND hwnd = w.Hwnd();
  ASSERT_NE(hwnd, nullptr);
  CControlUI* btn = w.GetPaintManager().FindControl(L"BTN");
  const Point c = Centre(btn);
  EXPECT_EQ(PixelAt(w, c), 0xFF102030u);
  ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(c));
  EXPECT_EQ(PixelAt(w, c), 0xFF405060u);
  ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(c));
  EXPECT_EQ(PixelAt(w, c), 0xFF708090u);
  ::SendMessageW(hwnd, WM_LBUTTONUP, 0, At(c));
  EXPECT_THAT(w.Notes(), ::testing::Contains(L"click:BTN"));
  // The look follows attribute lists applied later, from any thread.
  std::thread([btn] { btn->ApplyAttributeList(L"bkcolor=\"#FF00AA00\" hotbkcolor=\"#FF00AA00\""); }).join();
  PumpFor(50ms);
  EXPECT_EQ(PixelAt(w, c), 0xFF00AA00u);
  // A disabled window takes no click.
  w.EnableWindow(false);
  EXPECT_FALSE(::IsWindowEnabled(hwnd));
  w.EnableWindow(true);
}

// The window repaints only what changed, into the part of its surface where
// that lies; what it shows afterwards is what a whole paint makes now.
TEST_F(Win32BackendTest, APartialRepaintShowsWhatAWholePaintMakes) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, kWsExTopmost));
  w.ShowWindow();
  PumpFor(100ms);
  auto& pm = w.GetPaintManager();
  CControlUI* header = nullptr;
  pm.GetRoot()->Visit([&](CControlUI& c) {
    if (c.GetText() == L"File") header = &c;
    return header == nullptr;
  });
  ASSERT_NE(header, nullptr);
  CControlUI* btn = pm.FindControl(L"BTN");
  // Changed from another thread, as the poller does: an attribute (which
  // lays the window out, so all of it is painted), then a text away from the
  // window's corner, painted alone.
  std::thread([&] { btn->ApplyAttributeList(L"bkcolor=\"#FF00AA00\""); }).join();
  PumpFor(100ms);
  std::thread([&] { header->SetText(L"Name"); }).join();
  PumpFor(100ms);

  Rect area = header->GetPos();
  area.left = 0;
  area.top = 0;
  const int width = area.Width(), height = area.Height();
  ASSERT_GT(width, 0);
  // What the window shows, read back from its surface.
  std::vector<std::uint32_t> shown(static_cast<std::size_t>(width) * height);
  HDC dc = ::GetDC(w.Hwnd());
  HDC mem = ::CreateCompatibleDC(dc);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(mem, bitmap);
  ::BitBlt(mem, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  ::GdiFlush();
  std::memcpy(shown.data(), bits, shown.size() * sizeof shown[0]);
  ::SelectObject(mem, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
  ::ReleaseDC(w.Hwnd(), dc);

  // A whole paint of the window now.
  const auto png = dir.path() / "whole.png";
  ASSERT_TRUE(GrabWindow(w.GetHWND(), png));
  Gdiplus::Bitmap whole(png.wstring().c_str());
  const Rect b = btn->GetPos();
  int differ = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // The native edit and combo box paint themselves (a caret may blink).
      if (y < b.bottom && x >= b.right) continue;
      Gdiplus::Color c;
      whole.GetPixel(x, y, &c);
      differ += (shown[static_cast<std::size_t>(y) * width + x] & 0xFFFFFFu) != (c.GetValue() & 0xFFFFFFu);
    }
  }
  EXPECT_EQ(differ, 0) << "pixels the window kept from before";
  EXPECT_EQ(shown[static_cast<std::size_t>(b.top + 5) * width + b.left + 5] & 0xFFFFFFu, 0x00AA00u);
}

TEST_F(Win32BackendTest, TheWindowIsANativeWindowOfItsClassNameTitleAndStyles) {
  TestWindow w(L"UIOrlinFrameWnd");
  ASSERT_TRUE(w.Create(nullptr, L"Orlin", 0x80CF0000u, kWsExTopmost));
  HWND hwnd = w.Hwnd();
  EXPECT_EQ(::FindWindowW(L"UIOrlinFrameWnd", L"Orlin"), hwnd);
  EXPECT_EQ(WindowOfNativeHandle(hwnd), &w);
  EXPECT_EQ(::GetClassLongPtrW(hwnd, GCL_STYLE) & 0xFFFF, static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE));
  EXPECT_EQ(style & 0x80CF0000u, 0x80CF0000u);
  EXPECT_TRUE(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  // The whole window is client area, as large as the skin asks.
  RECT window{}, client{};
  ::GetWindowRect(hwnd, &window);
  ::GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 240);
  EXPECT_EQ(window.right - window.left, 320);
  // A new title is what FindWindow sees.
  w.SetWindowTitle(L"Orlin 2");
  EXPECT_EQ(::FindWindowW(L"UIOrlinFrameWnd", L"Orlin 2"), hwnd);
  // Taskbar presence: a tool window and back.
  w.SetExStyle(kWsExToolWindow);
  EXPECT_TRUE(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  w.SetExStyle(kWsExAppWindow);
  EXPECT_FALSE(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
}

TEST_F(Win32BackendTest, TheCaptionDragsAndTheSizeBoxResizes) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup | 0x00CF0000u, 0));
  w.ShowWindow();
  HWND hwnd = w.Hwnd();
  auto hit = [&](int x, int y) {
    POINT p{x, y};
    ::ClientToScreen(hwnd, &p);
    return ::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
  };
  const Point btn = Centre(w.GetPaintManager().FindControl(L"BTN"));
  EXPECT_EQ(hit(btn.x, btn.y), HTCLIENT) << "a button in the caption band takes its click";
  EXPECT_EQ(hit(300, 20), HTCAPTION);
  EXPECT_EQ(hit(300, 100), HTCLIENT);
  EXPECT_EQ(hit(1, 100), HTLEFT);
  EXPECT_EQ(hit(318, 238), HTBOTTOMRIGHT);
  EXPECT_EQ(hit(160, 1), HTTOP);
  // The skin's least size holds for a drag too.
  MINMAXINFO info{};
  ::SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_GT(info.ptMaxSize.x, 0);
}

TEST_F(Win32BackendTest, PostedAndSentMessagesCrossThreadsInOrderOntoTheWindowsThread) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  std::atomic<std::intptr_t> sent{0};
  std::thread worker([&] {
    for (std::uintptr_t i = 0; i < 50; ++i) w.Post(kWmUserBase + 10, i, 0);
    sent = w.Send(kWmUserBase + 10, 99, 0);
  });
  ASSERT_TRUE(PumpUntil([&] { return w.Received() >= 51; })) << "the 51 messages never arrived";
  worker.join();
  EXPECT_EQ(sent, 100);
  // As on Win32, a sent message may overtake messages posted before it; the
  // posted ones keep their order.
  std::vector<std::uintptr_t> posted;
  for (const auto& [msg, wParam, lParam] : w.received) {
    if (wParam != 99) posted.push_back(wParam);
  }
  ASSERT_EQ(posted.size(), 50u);
  for (std::uintptr_t i = 0; i < 50; ++i) EXPECT_EQ(posted[i], i);
  EXPECT_TRUE(w.threadsOk);
  // What another program posts by number arrives as well.
  ::PostMessageW(w.Hwnd(), kWmUserBase + 11, 7, 0);
  ASSERT_TRUE(PumpUntil([&] { return w.Received() >= 52; }));
  // ...except a message whose parameter would be a pointer into its memory.
  ::PostMessageW(w.Hwnd(), kWmMenuCommand, 12345, 0);
  PumpFor(50ms);
  EXPECT_TRUE(w.menuCommands.empty());
}

// Posted messages run several per trip through the queue; one whose handling
// runs a loop of its own (a modal window) leaves the rest to that loop, and
// one that closes the window ends the run without touching it again.
TEST_F(Win32BackendTest, PostedMessagesQueuedTogetherAllRunAlsoWhileOneOfThemRunsALoop) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  std::vector<std::uintptr_t> order;
  bool innerLoopSawTheRest = false;
  w.onMessage = [&](unsigned msg, std::uintptr_t wParam, std::intptr_t) -> std::optional<std::intptr_t> {
    if (msg != kWmUserBase + 30) return std::nullopt;
    order.push_back(wParam);
    // The fifth one waits, handling messages, for those posted after it.
    if (wParam == 4) innerLoopSawTheRest = PumpUntil([&] { return order.size() >= 40; }, 120s);
    return 0;
  };
  std::thread worker([&] {
    for (std::uintptr_t i = 0; i < 40; ++i) w.Post(kWmUserBase + 30, i, 0);
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return order.size() >= 40; })) << "the 40 posted messages never all ran";
  EXPECT_TRUE(innerLoopSawTheRest) << "the loop inside a handler waited 120 s for the messages posted after it";
  ASSERT_EQ(order.size(), 40u);
  for (std::uintptr_t i = 0; i < 40; ++i) EXPECT_EQ(order[i], i);

  // A handler that closes a window which deletes itself once gone: what was
  // queued before the close still runs, what came after it is dropped.
  struct DeletingWindow final : TestWindow {
    explicit DeletingWindow(std::atomic<int>& gone) : TestWindow(L"Win32ClosingWnd"), gone_(gone) {}
    void OnFinalMessage() override {
      ++gone_;
      delete this;
    }
    std::atomic<int>& gone_;
  };
  std::atomic<int> handled{0}, gone{0};
  auto* closing = new DeletingWindow(gone);
  ASSERT_TRUE(closing->Create(nullptr, L"closing", kWsPopup, 0));
  closing->onMessage = [&handled, closing](unsigned msg, std::uintptr_t wParam,
                                           std::intptr_t) -> std::optional<std::intptr_t> {
    if (msg != kWmUserBase + 31) return std::nullopt;
    ++handled;
    if (wParam == 1) {
      closing->Close(kModalOk);
      for (std::uintptr_t i = 10; i < 13; ++i) closing->Post(kWmUserBase + 31, i, 0);
    }
    return 0;
  };
  for (std::uintptr_t i = 0; i < 5; ++i) closing->Post(kWmUserBase + 31, i, 0);
  ASSERT_TRUE(PumpUntil([&] { return gone == 1; })) << "the closed window was not gone within 120 s";
  PumpFor(100ms);
  EXPECT_EQ(handled, 5) << "the five posted before the close ran, the three after it were dropped";
}

TEST_F(Win32BackendTest, TwoThreadsSendingToEachOthersWindowsBothGoOn) {
  // The main thread's window sends to the worker's window while the worker,
  // inside its own window's handler, waits for the main thread's window.
  TestWindow mine;
  ASSERT_TRUE(mine.Create(nullptr, L"mine", kWsPopup, 0));
  std::atomic<TestWindow*> theirs{nullptr};
  std::atomic<std::intptr_t> answer{0};
  std::thread worker([&] {
    TestWindow w;
    w.onMessage = [&](unsigned msg, std::uintptr_t wParam, std::intptr_t) -> std::optional<std::intptr_t> {
      if (msg != kWmUserBase + 20) return std::nullopt;
      // Sends back while the main thread waits on this window.
      return mine.Send(kWmUserBase + 21, wParam, 0) * 10;
    };
    w.closeOnClick = true;
    if (!w.Create(nullptr, L"theirs", kWsPopup, 0)) return;
    theirs = &w;
    w.ShowModal();
    theirs = nullptr;
  });
  ASSERT_TRUE(PumpUntil([&] { return theirs.load() != nullptr; })) << "the worker's window never came";
  answer = theirs.load()->Send(kWmUserBase + 20, 4, 0);
  EXPECT_EQ(answer, 50) << "4 + 1 from this window, times 10 from the worker's";
  theirs.load()->Close(kModalOk);
  worker.join();
}

TEST_F(Win32BackendTest, NativeEditAndComboStayInStepWithTheModelBothWays) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  w.ShowWindow();
  PumpFor(50ms);
  HWND hwnd = w.Hwnd();
  HWND edit = ::FindWindowExW(hwnd, nullptr, L"EDIT", nullptr);
  ASSERT_NE(edit, nullptr);
  auto* model = static_cast<CEditUI*>(w.GetPaintManager().FindControl(L"EDIT"));
  for (wchar_t ch : std::wstring(L"secret")) ::SendMessageW(edit, WM_CHAR, ch, 1);
  EXPECT_EQ(model->GetText(), L"secret");
  EXPECT_THAT(w.Notes(), ::testing::Contains(L"textchanged:EDIT"));
  ::SendMessageW(edit, WM_CHAR, L'\r', 1);
  EXPECT_THAT(w.Notes(), ::testing::Contains(L"return:EDIT"));
  ::SetFocus(edit);
  EXPECT_EQ(w.GetPaintManager().GetFocus(), model);
  // Model to widget: text, password echo, read-only, from any thread.
  std::thread([model] {
    model->SetPasswordMode(true);
    model->SetText(L"from model");
  }).join();
  ASSERT_TRUE(PumpUntil([&] { return ::GetWindowTextLengthW(edit) == 10; }));
  wchar_t text[32] = {};
  ::GetWindowTextW(edit, text, 32);
  EXPECT_STREQ(text, L"from model");
  EXPECT_NE(::SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), 0);
  const auto notes = w.Notes().size();
  PumpFor(50ms);
  EXPECT_EQ(w.Notes().size(), notes) << "text set from the model is not the user's typing";
  // The edit sits inside the model's edit, centred.
  RECT r{};
  ::GetWindowRect(edit, &r);
  ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
  const Rect pos = model->GetPos();
  EXPECT_EQ(r.left, pos.left + 4);
  EXPECT_GE(r.top, pos.top);
  EXPECT_LE(r.bottom, pos.bottom);

  HWND combo = ::FindWindowExW(hwnd, nullptr, L"COMBOBOX", nullptr);
  ASSERT_NE(combo, nullptr);
  auto* box = static_cast<CComboUI*>(w.GetPaintManager().FindControl(L"COMBO"));
  EXPECT_EQ(::SendMessageW(combo, CB_GETCOUNT, 0, 0), 2);
  box->SelectItem(1, false);
  ASSERT_TRUE(PumpUntil([&] { return ::SendMessageW(combo, CB_GETCURSEL, 0, 0) == 1; }));
  // A choice in the native box selects in the model and notifies.
  ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  EXPECT_EQ(box->GetCurSel(), 0);
  EXPECT_THAT(w.Notes(), ::testing::Contains(L"itemselect:COMBO"));
  // The chosen item shows in the field, centred in its height.
  {
    const auto png = dir.path() / "combo.png";
    ASSERT_TRUE(GrabWindow(w.GetHWND(), png));
    Gdiplus::Bitmap picture(png.wstring().c_str());
    const Rect field = box->GetPos();
    int inked = 0, top = field.bottom, bottom = field.top;
    for (int y = field.top + 2; y < field.bottom - 2; ++y) {
      for (int x = field.left + 2; x < field.left + field.Width() / 2; ++x) {
        Gdiplus::Color c;
        picture.GetPixel(x, y, &c);
        if (c.GetR() + c.GetG() + c.GetB() < 600) {
          ++inked;
          top = std::min(top, y);
          bottom = std::max(bottom, y);
        }
      }
    }
    EXPECT_GT(inked, 10) << "the field shows no text";
    EXPECT_LE(std::abs((top + bottom) / 2 - (field.top + field.bottom) / 2), 3) << "text from " << top << " to " << bottom;
  }
  // A hidden control hides its widget.
  model->SetVisible(false);
  ASSERT_TRUE(PumpUntil([&] { return !::IsWindowVisible(edit); }));
}

TEST_F(Win32BackendTest, ALongListIsOneViewThatPaintsOnlyTheRowsInView) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  auto* list = static_cast<CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
  CDialogBuilder builder;
  auto fill = [&](int generation) {
    for (int i = 0; i < 1000; ++i) {
      CControlUI* row = list->GetItemAt(i);
      if (!row) {
        row = builder.CreateCached(L"row.xml", &w, &w.GetPaintManager());
        ASSERT_NE(row, nullptr);
        list->Add(row);
      }
      row->FindSubControl(L"FILELABEL")->SetText(L"file " + std::to_wstring(generation) + L"-" + std::to_wstring(i));
    }
  };
  fill(0);
  w.ShowWindow();
  PumpFor(50ms);
  HWND hwnd = w.Hwnd();
  HWND view = ::FindWindowExW(hwnd, nullptr, L"OrlinListView", nullptr);
  ASSERT_NE(view, nullptr);
  int children = 0;
  for (HWND c = ::GetWindow(hwnd, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) ++children;
  EXPECT_LT(children, 10);
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE;
  ::GetScrollInfo(view, SB_VERT, &si);
  EXPECT_EQ(si.nMax, 1000 * 20 - 1);
  // A refill reuses the rows and repaints the view, not the window around it;
  // the same texts again repaint nothing.
  CControlUI* first = list->GetItemAt(0);
  ::UpdateWindow(hwnd);
  ::UpdateWindow(view);
  fill(1);
  backend->RunPosted();
  EXPECT_FALSE(::GetUpdateRect(hwnd, nullptr, FALSE)) << "the window's own controls did not change";
  EXPECT_TRUE(::GetUpdateRect(view, nullptr, FALSE)) << "the rows did";
  ::UpdateWindow(view);
  fill(1);
  backend->RunPosted();
  EXPECT_FALSE(::GetUpdateRect(view, nullptr, FALSE)) << "nothing changed";
  // A control outside the list changes: the window repaints, the rows stay.
  w.GetPaintManager().FindControl(L"BTN")->SetText(L"changed");
  backend->RunPosted();
  EXPECT_TRUE(::GetUpdateRect(hwnd, nullptr, FALSE)) << "the button changed";
  EXPECT_FALSE(::GetUpdateRect(view, nullptr, FALSE)) << "the rows did not";
  ::UpdateWindow(hwnd);
  PumpFor(50ms);
  EXPECT_EQ(list->GetItemAt(0), first);
  EXPECT_EQ(::FindWindowExW(hwnd, nullptr, L"OrlinListView", nullptr), view);
  ::GetScrollInfo(view, SB_VERT, &si);
  EXPECT_EQ(si.nMax, 1000 * 20 - 1);
  // A click on a row selects it; the wheel scrolls.
  ::SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 25));
  ::SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(10, 25));
  EXPECT_EQ(list->GetCurSel(), 1);
  EXPECT_THAT(w.Notes(), ::testing::Contains(L"itemselect:LIST"));
  ::SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
  si.fMask = SIF_POS;
  ::GetScrollInfo(view, SB_VERT, &si);
  EXPECT_EQ(si.nPos, 60);
  ::SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 5));
  ::SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(10, 5));
  EXPECT_EQ(list->GetCurSel(), 3) << "row 3 is at the top after scrolling by three";
  // Fewer rows: a shorter scroll range.
  while (list->GetCount() > 10) list->RemoveAt(10);
  PumpFor(50ms);
  si.fMask = SIF_RANGE;
  ::GetScrollInfo(view, SB_VERT, &si);
  EXPECT_EQ(si.nMax, 10 * 20 - 1);

  // A hidden list (no room, its inset inside out) stays where it is while
  // the window's other controls change: its view is not moved every pass.
  list->SetVisible(false);
  PumpFor(50ms);
  EXPECT_FALSE(::IsWindowVisible(view));
  // (A named function: a lambda has no stdcall conversion on 32-bit.)
  struct Moves {
    static LRESULT CALLBACK Count(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
      if (msg == WM_WINDOWPOSCHANGING) ++*reinterpret_cast<int*>(data);
      return ::DefSubclassProc(h, msg, wp, lp);
    }
  };
  int moves = 0;
  const SUBCLASSPROC countMoves = &Moves::Count;
  ::SetWindowSubclass(view, countMoves, 7, reinterpret_cast<DWORD_PTR>(&moves));
  for (int i = 0; i < 5; ++i) {
    w.GetPaintManager().FindControl(L"BTN")->SetText(L"pass " + std::to_wstring(i));
    backend->RunPosted();
  }
  EXPECT_EQ(moves, 0);
  ::RemoveWindowSubclass(view, countMoves, 7);
  list->SetVisible(true);
  PumpFor(50ms);
  EXPECT_TRUE(::IsWindowVisible(view)) << "shown again where the list is";
  RECT placed{};
  ::GetWindowRect(view, &placed);
  EXPECT_GT(placed.bottom - placed.top, 0);
}

struct FindThreadWindow {
  const wchar_t* windowClass = nullptr;
  HWND owner = nullptr;  // null: any owner
  HWND found = nullptr;
};

BOOL CALLBACK MatchThreadWindow(HWND hwnd, LPARAM data) {
  auto* find = reinterpret_cast<FindThreadWindow*>(data);
  wchar_t cls[64] = {};
  ::GetClassNameW(hwnd, cls, 64);
  if (std::wcscmp(cls, find->windowClass) == 0 && (!find->owner || ::GetWindow(hwnd, GW_OWNER) == find->owner)) {
    find->found = hwnd;
  }
  return find->found == nullptr;
}

// A window of `windowClass` this thread made (owned by `owner` unless null),
// or null. Suites running beside this one on the same desktop have windows
// of the same classes.
HWND ThreadWindow(const wchar_t* windowClass, HWND owner = nullptr) {
  FindThreadWindow find{windowClass, owner, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &MatchThreadWindow, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

// The tooltip control the window made for itself, or null.
HWND TooltipOf(HWND owner) { return ThreadWindow(L"tooltips_class32", owner); }

// What the tooltip control would show with the pointer at `where` (screen).
std::wstring TipAt(HWND window, HWND tooltip, UINT_PTR tool, POINT where) {
  ::SetCursorPos(where.x, where.y);
  NMTTDISPINFOW info{};
  info.hdr.hwndFrom = tooltip;
  info.hdr.idFrom = tool;
  info.hdr.code = TTN_GETDISPINFOW;
  ::SendMessageW(window, WM_NOTIFY, tool, reinterpret_cast<LPARAM>(&info));
  return info.lpszText ? info.lpszText : L"";
}

TEST_F(Win32BackendTest, TooltipsShowTheTextOfTheControlOrListCellUnderThePointer) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  auto* list = static_cast<CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
  CDialogBuilder builder;
  for (int i = 0; i < 3; ++i) {
    CControlUI* row = builder.CreateCached(L"row.xml", &w, &w.GetPaintManager());
    list->Add(row);
    row->FindSubControl(L"FILELABEL")->SetToolTip(L"C:\\Orlin\\file " + std::to_wstring(i));
  }
  CControlUI* btn = w.GetPaintManager().FindControl(L"BTN");
  btn->SetToolTip(L"Sync now");
  w.ShowWindow();
  PumpFor(50ms);
  HWND hwnd = w.Hwnd();
  ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(Centre(btn)));
  HWND tooltip = TooltipOf(hwnd);
  ASSERT_NE(tooltip, nullptr) << "no tooltip control";
  POINT onButton{Centre(btn).x, Centre(btn).y};
  ::ClientToScreen(hwnd, &onButton);
  EXPECT_EQ(TipAt(hwnd, tooltip, 1, onButton), L"Sync now");
  POINT onNothing{300, 20};
  ::ClientToScreen(hwnd, &onNothing);
  EXPECT_EQ(TipAt(hwnd, tooltip, 1, onNothing), L"");
  // In a list, the cell's own tip; the widest width the window set holds.
  w.GetPaintManager().GetTooltipWindow()->SendMessageW(CTooltipWindow::kSetMaxTipWidth, 0, 700);
  HWND view = ::FindWindowExW(hwnd, nullptr, L"OrlinListView", nullptr);
  ASSERT_NE(view, nullptr);
  POINT onRow{10, 25};
  ::ClientToScreen(view, &onRow);
  EXPECT_EQ(TipAt(hwnd, tooltip, reinterpret_cast<UINT_PTR>(view), onRow), L"C:\\Orlin\\file 1");
  EXPECT_EQ(::SendMessageW(tooltip, TTM_GETMAXTIPWIDTH, 0, 0), 700);
}

TEST_F(Win32BackendTest, ADpiChangeReachesTheWindowWhichRescalesItself) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  EXPECT_GE(MonitorDpiOf(w.GetHWND()), 72);
  HWND hwnd = w.Hwnd();
  RECT suggested{0, 0, 480, 360};
  ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  ASSERT_TRUE(PumpUntil([&] {
    RECT r{};
    ::GetClientRect(hwnd, &r);
    return r.right == 480;
  })) << "the window never took the skin's size at 144 DPI";
  EXPECT_EQ(w.GetPaintManager().GetDPIObj()->GetDPI(), 144);
  EXPECT_EQ(w.GetPaintManager().GetClientSize(), (Size{480, 360}));
}

TEST_F(Win32BackendTest, TheMainWindowReceivesAPathWithWmCopyDataFromAnotherThread) {
  TestWindow w(L"UIOrlinFrameWnd");
  ASSERT_TRUE(w.Create(nullptr, L"Orlin", kWsPopup, 0));
  std::atomic<int> done{0};
  std::thread ravel([&] {
    auto link = platform::FindMainWindow({L"UIOrlinFrameWnd", L"Orlin", L"UILoginWnd", {}});
    if (!link) {
      done = -1;
      return;
    }
    done = (!link->LoginWindowShows() && link->SendCopyData(L"C:\\Users\\Ann\\Fotos \u00FC\u4E2D")) ? 1 : -2;
  });
  ASSERT_TRUE(PumpUntil([&] { return done != 0; })) << "WM_COPYDATA never came";
  ravel.join();
  EXPECT_EQ(done, 1);
  ASSERT_EQ(w.copied.size(), 1u);
  EXPECT_EQ(w.copied[0], L"C:\\Users\\Ann\\Fotos \u00FC\u4E2D");
}

TEST_F(Win32BackendTest, TheTrayIconsCallbackArrivesAsTheWindowsMessage) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  w.ShowWindow();
  CTrayIcon tray;
  const bool made = tray.CreateTrayIcon(&w, 128, L"Orlin");
  EXPECT_EQ(made, backend->HasSystemTray());
  EXPECT_EQ(HideToTray(w, tray), made);
  EXPECT_EQ(::IsWindowVisible(w.Hwnd()) != FALSE, !made) << "without a tray the window stays reachable";
  std::printf("the desktop %s a notification area\n", made ? "has" : "has no");
  if (!made) return;
  // The taskbar calls back with the icon's message and the mouse message.
  HWND icon = ThreadWindow(win32::kTrayWindowClass);
  ASSERT_NE(icon, nullptr);
  ::SendMessageW(icon, kWmTrayCallback, 1, WM_RBUTTONUP);
  ASSERT_TRUE(PumpUntil([&] { return w.Received() >= 1; }));
  EXPECT_EQ(std::get<0>(w.received[0]), kWmTrayCallback);
  EXPECT_EQ(std::get<2>(w.received[0]), WM_RBUTTONUP);
  tray.DeleteTrayIcon();
  EXPECT_EQ(ThreadWindow(win32::kTrayWindowClass), nullptr);
  EXPECT_FALSE(::IsWindow(icon));
}

TEST_F(Win32BackendTest, AMenuItemClickDeliversTheCommandRecordAndAnyOtherActivationClosesTheMenu) {
  TestWindow owner;
  ASSERT_TRUE(owner.Create(nullptr, L"owner", kWsPopup, 0));
  owner.ShowWindow();
  auto* menu = new CMenuWnd;
  ASSERT_TRUE(menu->Init(nullptr, L"menu.xml", Point{50, 50}, &owner.GetPaintManager()));
  menu->GetMenuUI()->Add(CMenuWnd::NewTextElement(L"MENU_PAUSE", L"Pause Sync"));
  menu->GetMenuUI()->Add(CMenuWnd::NewTextElement(L"MENU_EXIT", L"Exit"));
  menu->ResizeMenu();
  HWND popup = static_cast<HWND>(NativeHandleOf(menu->GetHWND()));
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(::IsWindowVisible(popup));
  EXPECT_TRUE(::GetWindowLongPtrW(popup, GWL_EXSTYLE) & WS_EX_TOPMOST);
  menu->GetPaintManager().LayoutIfNeeded();
  Click(popup, Centre(menu->GetPaintManager().FindControl(L"MENU_EXIT")));
  ASSERT_TRUE(PumpUntil([&] { return !owner.menuCommands.empty(); })) << "no command record arrived";
  EXPECT_EQ(owner.menuCommands[0], L"MENU_EXIT");
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(popup); })) << "the menu stayed after its click";
  delete menu;

  // A second menu goes without a command when another window is activated.
  CMenuWnd second;
  ASSERT_TRUE(second.Init(nullptr, L"menu.xml", Point{50, 50}, &owner.GetPaintManager()));
  second.GetMenuUI()->Add(CMenuWnd::NewTextElement(L"MENU_EXIT", L"Exit"));
  second.ResizeMenu();
  HWND other = static_cast<HWND>(NativeHandleOf(second.GetHWND()));
  ::SendMessageW(other, WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_TRUE(PumpUntil([&] { return !second.IsWindow(); }));
  EXPECT_EQ(owner.menuCommands.size(), 1u);
}

// Clicks a button of the first shown message window once it appears.
bool ClickMessageButton(const std::wstring& name) {
  const auto end = std::chrono::steady_clock::now() + 120s;
  while (std::chrono::steady_clock::now() < end) {
    HWND hwnd = ::FindWindowW(L"MsgWnd", nullptr);
    WindowImplBase* window = hwnd && ::IsWindowVisible(hwnd) ? WindowOfNativeHandle(hwnd) : nullptr;
    if (window) {
      auto lock = window->GetPaintManager().ModelLock();
      window->GetPaintManager().LayoutIfNeeded();
      if (CControlUI* c = window->GetPaintManager().FindControl(name)) {
        const Point p = Centre(c);
        ::PostMessageW(hwnd, WM_MOUSEMOVE, 0, At(p));
        ::PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(p));
        ::PostMessageW(hwnd, WM_LBUTTONUP, 0, At(p));
        return true;
      }
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

TEST_F(Win32BackendTest, ModalMessageWindowReturnsItsResultOnTheMainThreadAndOnAWorker) {
  CPaintManagerUI::SetResourcePath(std::filesystem::path(ORLIN_SOURCE_DIR) / "skins");
  for (auto [button, expected] : {std::pair{L"OKBTN", 1}, std::pair{L"CANCELBTN", 2}, std::pair{L"CLOSEBTN", 2}}) {
    std::thread clicker([name = std::wstring(button)] { ClickMessageButton(name); });
    EXPECT_EQ(ShowMessageWindow(nullptr, nullptr, L"Orlin", L"Cloud_LogOff_Msg", 1), expected);
    clicker.join();
    EXPECT_EQ(::FindWindowW(L"MsgWnd", nullptr), nullptr);
  }
  // From a worker thread: the window is the worker's and runs in its loop.
  std::atomic<int> result{0};
  std::atomic<DWORD> windowThread{0};
  std::thread worker([&] {
    result = ShowMessageWindow(nullptr, nullptr, L"Orlin", L"Path_Used_Msg", 1);
  });
  ASSERT_TRUE(PumpUntil([&] {
    HWND hwnd = ::FindWindowW(L"MsgWnd", nullptr);
    if (hwnd) windowThread = ::GetWindowThreadProcessId(hwnd, nullptr);
    return hwnd != nullptr;
  })) << "the worker's message window never showed";
  EXPECT_NE(windowThread, ::GetCurrentThreadId());
  ASSERT_TRUE(ClickMessageButton(L"OKBTN"));
  ASSERT_TRUE(PumpUntil([&] { return result != 0; })) << "the worker's modal window never returned";
  worker.join();
  EXPECT_EQ(result, 1);
}

TEST_F(Win32BackendTest, AWindowClosingItselfFromAClickGoesAwayAndDropsLaterMessages) {
  TestWindow w;
  w.closeOnClick = true;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  w.ShowWindow();
  HWND hwnd = w.Hwnd();
  Click(hwnd, Centre(w.GetPaintManager().FindControl(L"BTN")));
  ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(hwnd); })) << "the window stayed";
  EXPECT_FALSE(w.IsWindow());
  w.PostMessageW(kWmUserBase + 1, 1, 0);
  std::thread([&w] { w.SendMessageW(kWmUserBase + 1, 2, 0); }).join();
  PumpFor(20ms);
  EXPECT_EQ(w.Received(), 0u);
}

TEST_F(Win32BackendTest, TheFolderPickerShowsWithItsTitleAndACancelIsNoFolder) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"win", kWsPopup, 0));
  w.ShowWindow();
  const std::wstring title = L"Orlin Select sync directory";
  std::atomic<bool> seen{false};
  std::thread closer([&] {
    const auto end = std::chrono::steady_clock::now() + 120s;
    while (std::chrono::steady_clock::now() < end) {
      if (HWND picker = ::FindWindowW(nullptr, title.c_str())) {
        seen = true;
        ::PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
        return;
      }
      std::this_thread::sleep_for(50ms);
    }
  });
  const auto chosen = backend->BrowseForFolder(w.GetHWND(), title, dir.path());
  closer.join();
  EXPECT_TRUE(seen) << "no picker titled \"" << WideToUtf8(title) << "\" showed";
  EXPECT_EQ(chosen, std::nullopt);
}

}  // namespace
}  // namespace orlin::dui
