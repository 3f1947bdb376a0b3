// orlin-ctl against windows of the Win32 backend (under Wine in the Windows
// stage): requests answered on the UI thread while it handles its messages,
// typing reaching the native edit, and pictures of windows.

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tools/orlin-ctl/ctl.h"
#include "ui/dui/automation/automation_server.h"
#include "ui/dui/automation/win32/win32_automation.h"
#include "ui/dui/win32/win32_backend.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::automation {
namespace {

using namespace std::chrono_literals;

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="240,80">
  <HorizontalLayout bkcolor="#FFFFFFFF">
    <Button name="LOGINBTN" width="100" bkcolor="#FF1060C0" hotbkcolor="#FF1060C0" text=""/>
    <Edit name="USERNAME" width="120"/>
  </HorizontalLayout>
</Window>)";

class LoginWindow : public dui::WindowImplBase {
 public:
  std::wstring GetWindowClassName() const override { return L"UILoginWnd"; }
  std::wstring GetSkinFile() override { return L"login.xml"; }
  void Notify(dui::TNotifyUI& msg) override {
    if (msg.sType == dui::kEventClick) clicks++;
  }
  std::atomic<int> clicks{0};
};

class Win32AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<dui::Win32Backend>();
    dui::UiBackend::Install(backend);
    std::ofstream(dir.path() / "login.xml") << kSkin;
    dui::CPaintManagerUI::SetResourcePath(dir.path());
    dui::CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override {
    dui::UiBackend::Install(nullptr);
    backend.reset();
  }

  // orlin-ctl on a thread of its own while this (the UI) thread handles its
  // messages.
  int Ctl(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr) {
    std::atomic<bool> done{false};
    int code = -1;
    std::ostringstream o, e;
    std::thread client([&] {
      code = ctl::Run(args, dir.path(), o, e);
      done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done && std::chrono::steady_clock::now() < deadline) backend->HandleMessagesFor(10ms);
    client.join();
    EXPECT_TRUE(done) << "orlin-ctl did not end within 120 s";
    if (out) *out = o.str();
    if (err) *err = e.str();
    return code;
  }

  testsupport::TempDir dir;
  std::shared_ptr<dui::Win32Backend> backend;
};

TEST_F(Win32AutomationTest, RequestsAreAnsweredOnTheUiThreadAndShotWritesThePictureShown) {
  LoginWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"Login - Orlin", dui::kWsPopup, 0));
  w.ShowWindow();
  backend->HandleMessagesFor(50ms);
  AutomationServer server(Win32GuiThreadPost(), Win32WindowPicture());
  std::string error;
  ASSERT_TRUE(server.Start(dir.path(), &error)) << error;

  std::string out, err;
  EXPECT_EQ(Ctl({"click", "UILoginWnd", "LOGINBTN"}, &out, &err), 0) << err;
  EXPECT_EQ(w.clicks, 1);
  EXPECT_EQ(Ctl({"set", "UILoginWnd", "USERNAME", "ann"}, &out, &err), 0) << err;
  backend->HandleMessagesFor(50ms);
  // What was typed shows in the native edit the backend keeps in step.
  HWND edit = ::FindWindowExW(static_cast<HWND>(dui::NativeHandleOf(w.GetHWND())), nullptr, L"EDIT", nullptr);
  ASSERT_NE(edit, nullptr);
  wchar_t text[16] = {};
  ::GetWindowTextW(edit, text, 16);
  EXPECT_STREQ(text, L"ann");

  const auto png = dir.path() / "login.png";
  EXPECT_EQ(Ctl({"shot", "UILoginWnd", png.string()}, &out, &err), 0) << err;
  Gdiplus::Bitmap picture(png.wstring().c_str());
  ASSERT_EQ(picture.GetLastStatus(), Gdiplus::Ok) << "no readable PNG at " << png.string();
  EXPECT_EQ(picture.GetWidth(), 240u);
  Gdiplus::Color pixel;
  picture.GetPixel(50, 40, &pixel);
  EXPECT_EQ(pixel.GetValue(), 0xFF1060C0u);

  EXPECT_EQ(Ctl({"shot", "UILoginWnd", (dir.path() / "no such dir" / "x.png").string()}, &out, &err), 1);
  EXPECT_THAT(err, ::testing::HasSubstr("could not write the picture"));
  server.Stop();
}

}  // namespace
}  // namespace orlin::automation
