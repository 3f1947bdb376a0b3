// orlin-ctl against windows of the Win32 backend (under Wine in the Windows
// stage): requests answered on the UI thread while it handles its messages,
// typing reaching the native edit, and pictures of windows (the scenario is
// ui/dui/automation/tests/automation_scenarios.h, shared with the Qt
// backend's suite).

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include "ui/dui/automation/tests/automation_scenarios.h"
#include "ui/dui/automation/win32/win32_automation.h"
#include "ui/dui/win32/win32_backend.h"

namespace orlin::automation {
namespace {

class Win32AutomationTest : public AutomationScenarios {
 protected:
  void InstallBackend() override {
    backend = std::make_shared<dui::Win32Backend>();
    dui::UiBackend::Install(backend);
  }
  void HandleMessagesFor(std::chrono::milliseconds time) override { backend->HandleMessagesFor(time); }
  UiThreadPost PostToUi() override { return Win32GuiThreadPost(); }
  WindowPicture PictureOfWindow() override { return Win32WindowPicture(); }
  std::optional<std::string> EditText(dui::WindowImplBase& window) override {
    const HWND parent = static_cast<HWND>(dui::NativeHandleOf(window.GetHWND()));
    const HWND edit = ::FindWindowExW(parent, nullptr, L"EDIT", nullptr);
    if (edit == nullptr || ::FindWindowExW(parent, edit, L"EDIT", nullptr) != nullptr) return std::nullopt;
    wchar_t text[64] = {};
    const int length = ::GetWindowTextW(edit, text, 64);
    return std::string(text, text + length);  // ASCII in this test
  }
  std::optional<Picture> ReadPicture(const std::filesystem::path& png, int x, int y) override {
    Gdiplus::Bitmap picture(png.wstring().c_str());
    if (picture.GetLastStatus() != Gdiplus::Ok) return std::nullopt;
    Gdiplus::Color pixel;
    picture.GetPixel(x, y, &pixel);
    return Picture{static_cast<int>(picture.GetWidth()), pixel.GetValue()};
  }

  std::shared_ptr<dui::Win32Backend> backend;
};

TEST_F(Win32AutomationTest, RequestsAreAnsweredOnTheUiThreadAndShotWritesThePictureShown) {
  RequestsAreAnsweredOnTheUiThreadAndShotWritesThePictureShown();
}

}  // namespace
}  // namespace orlin::automation
