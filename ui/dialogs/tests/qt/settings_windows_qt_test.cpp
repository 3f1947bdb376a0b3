// The settings, selective synchronisation, copy and message windows through
// the Qt backend (offscreen), in both languages: every text fits the control
// that shows it, measured with the real fonts (the scenarios are
// dialog_windows_scenarios.h, shared with the Win32 backend's suite).

#include <gtest/gtest.h>

#include "ui/dialogs/tests/dialog_windows_scenarios.h"
#include "ui/dui/qt/qt_backend.h"
#include "ui/dui/qt/tests/qt_test_application.h"

namespace orlin {
namespace {

class SettingsWindowsQtTest : public testing::DialogWindowsScenarios {
 protected:
  static void SetUpTestSuite() { dui::EnsureQtApplication("settings_windows_qt_test"); }
  void InstallBackend() override { dui::UiBackend::Install(std::make_shared<dui::QtBackend>()); }
  void HandleMessagesFor(std::chrono::milliseconds time) override { dui::HandleQtEventsFor(time); }
  bool Grab(dui::WindowImplBase& window, const std::filesystem::path& png) override {
    return dui::GrabWindow(window.GetHWND(), png);
  }
};

TEST_P(SettingsWindowsQtTest, EverySettingsPageFits) { EverySettingsPageFits(); }
TEST_P(SettingsWindowsQtTest, TheSelectiveSyncWindowShowsADeepTree) { TheSelectiveSyncWindowShowsADeepTree(); }
TEST_P(SettingsWindowsQtTest, TheCopyWindowShowsACopyUnderWay) { TheCopyWindowShowsACopyUnderWay(); }
TEST_P(SettingsWindowsQtTest, TheMessageWindowFitsItsText) { TheMessageWindowFitsItsText(); }

INSTANTIATE_TEST_SUITE_P(BothLanguages, SettingsWindowsQtTest, ::testing::Values("en", "zh_cn"));

}  // namespace
}  // namespace orlin
