#pragma once
// orlin-ctl against a window of a real backend, written once against the
// window layer: requests are answered on the UI thread while it handles its
// messages, typing reaches the backend's own edit, and a picture of the
// window is the window as shown.
//
// A backend's suite derives its fixture from AutomationScenarios, installs its
// backend and says how its messages are handled, what the automation's UI
// thread and pictures are there, what its own edit shows and how a PNG reads.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tools/orlin-ctl/ctl.h"
#include "ui/dui/automation/automation_server.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::automation {

// A button that counts its clicks beside an edit.
class LoginWindow : public dui::WindowImplBase {
 public:
  static constexpr char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="240,80">
  <HorizontalLayout bkcolor="#FFFFFFFF">
    <Button name="LOGINBTN" width="100" bkcolor="#FF1060C0" hotbkcolor="#FF1060C0" text=""/>
    <Edit name="USERNAME" width="120"/>
  </HorizontalLayout>
</Window>)";

  std::wstring GetWindowClassName() const override { return L"UILoginWnd"; }
  std::wstring GetSkinFile() override { return L"login.xml"; }
  void Notify(dui::TNotifyUI& msg) override {
    if (msg.sType == dui::kEventClick) clicks++;
  }
  std::atomic<int> clicks{0};
};

class AutomationScenarios : public ::testing::Test {
 protected:
  // What a PNG holds: its width in the window's units and one pixel (ARGB).
  struct Picture {
    int width = 0;
    std::uint32_t pixel = 0;
  };

  // The backend's part.
  virtual void InstallBackend() = 0;
  virtual void HandleMessagesFor(std::chrono::milliseconds time) = 0;
  virtual UiThreadPost PostToUi() = 0;
  virtual WindowPicture PictureOfWindow() = 0;
  // The text of the window's one native edit; nullopt when it has not
  // exactly one.
  virtual std::optional<std::string> EditText(dui::WindowImplBase& window) = 0;
  // The picture in `png` with its pixel at (x, y); nullopt when unreadable.
  virtual std::optional<Picture> ReadPicture(const std::filesystem::path& png, int x, int y) = 0;

  void SetUp() override {
    InstallBackend();
    std::ofstream(dir.path() / "login.xml") << LoginWindow::kSkin;
    dui::CPaintManagerUI::SetResourcePath(dir.path());
    dui::CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override { dui::UiBackend::Install(nullptr); }

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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done && std::chrono::steady_clock::now() < deadline) HandleMessagesFor(std::chrono::milliseconds(10));
    client.join();
    EXPECT_TRUE(done) << "orlin-ctl did not end within 120 s";
    if (out) *out = o.str();
    if (err) *err = e.str();
    return code;
  }

  void RequestsAreAnsweredOnTheUiThreadAndShotWritesThePictureShown() {
    LoginWindow w;
    ASSERT_TRUE(w.Create(nullptr, L"Login - Orlin", dui::kWsPopup, 0));
    w.ShowWindow();
    HandleMessagesFor(std::chrono::milliseconds(50));
    AutomationServer server(PostToUi(), PictureOfWindow());
    std::string error;
    ASSERT_TRUE(server.Start(dir.path(), &error)) << error;

    std::string out, err;
    EXPECT_EQ(Ctl({"click", "UILoginWnd", "LOGINBTN"}, &out, &err), 0) << err;
    EXPECT_EQ(w.clicks, 1);
    EXPECT_EQ(Ctl({"set", "UILoginWnd", "USERNAME", "ann"}, &out, &err), 0) << err;
    HandleMessagesFor(std::chrono::milliseconds(50));
    // What was typed shows in the backend's own edit, kept in step.
    EXPECT_EQ(EditText(w), "ann");

    const auto png = dir.path() / "login.png";
    EXPECT_EQ(Ctl({"shot", "UILoginWnd", png.string()}, &out, &err), 0) << err;
    const std::optional<Picture> picture = ReadPicture(png, 50, 40);
    ASSERT_TRUE(picture) << "no readable PNG at " << png.string();
    EXPECT_EQ(picture->width, 240);
    EXPECT_EQ(picture->pixel, 0xFF1060C0u);

    EXPECT_EQ(Ctl({"shot", "UILoginWnd", (dir.path() / "no such dir" / "x.png").string()}, &out, &err), 1);
    EXPECT_THAT(err, ::testing::HasSubstr("could not write the picture"));
    server.Stop();
  }

  testsupport::TempDir dir;
};

}  // namespace orlin::automation
