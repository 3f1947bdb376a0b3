// The settings, selective synchronisation, copy and message windows through
// the Win32 backend (under Wine in the Windows stage), in both languages:
// every text fits the control that shows it, measured with GDI+ and the
// fonts the system has (the scenarios are dialog_windows_scenarios.h, shared
// with the Qt backend's suite).

#include <gtest/gtest.h>

#include "ui/dialogs/tests/dialog_windows_scenarios.h"
#include "ui/dui/win32/win32_backend.h"

namespace orlin {
namespace {

class DialogWindowsWin32Test : public testing::DialogWindowsScenarios {
 protected:
  void InstallBackend() override {
    backend = std::make_shared<dui::Win32Backend>();
    dui::UiBackend::Install(backend);
  }
  void HandleMessagesFor(std::chrono::milliseconds time) override { backend->HandleMessagesFor(time); }
  bool Grab(dui::WindowImplBase& window, const std::filesystem::path& png) override {
    return dui::GrabWindow(window.GetHWND(), png);
  }

  std::shared_ptr<dui::Win32Backend> backend;
};

TEST_P(DialogWindowsWin32Test, EverySettingsPageFits) { EverySettingsPageFits(); }
TEST_P(DialogWindowsWin32Test, TheSelectiveSyncWindowShowsADeepTree) { TheSelectiveSyncWindowShowsADeepTree(); }
TEST_P(DialogWindowsWin32Test, TheCopyWindowShowsACopyUnderWay) { TheCopyWindowShowsACopyUnderWay(); }
TEST_P(DialogWindowsWin32Test, TheMessageWindowFitsItsText) { TheMessageWindowFitsItsText(); }

INSTANTIATE_TEST_SUITE_P(BothLanguages, DialogWindowsWin32Test, ::testing::Values("en", "zh_cn"));

}  // namespace
}  // namespace orlin
