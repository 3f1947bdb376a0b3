// The main window as the program shows it through the Qt backend offscreen,
// with the skins and images laid out beside the built program (the
// scenarios are ui/main/tests/main_window_scenarios.h, shared with the Win32
// backend's suite); keys reach the window through Qt.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "ui/dui/qt/qt_backend.h"
#include "ui/dui/qt/tests/qt_test_application.h"
#include "ui/main/tests/main_window_scenarios.h"

// Fontconfig keeps its caches for the life of the process; that is not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace orlin {
namespace {

class MainWindowQtTest : public testing::MainWindowScenarios {
 protected:
  static void SetUpTestSuite() { dui::EnsureQtApplication("program_main_window_qt_test"); }
  void InstallBackend() override { dui::UiBackend::Install(std::make_shared<dui::QtBackend>()); }
  std::filesystem::path Resources() override { return ORLIN_PROGRAM_DIR; }
  void HandleMessagesFor(std::chrono::milliseconds time) override { dui::HandleQtEventsFor(time); }
  bool Grab(dui::NativeWindow* window, const std::filesystem::path& png) override {
    return dui::GrabWindow(window, png);
  }
};

TEST_F(MainWindowQtTest, EveryTextFitsInEnglishAndChineseAndSwitchesAtRunTime) {
  Start(L"en");
  ShowEveryToolbarButton();
  ExpectTheSyncEventsListed();
  EveryTextFitsInEnglishAndChinese();
}

TEST_F(MainWindowQtTest, SmallestWindowStillFitsInBothLanguages) {
  Start(L"en");
  SmallestWindowStillFitsInBothLanguages();
}

TEST_F(MainWindowQtTest, CtrlShiftLThroughQtShowsAndHidesTheLogTab) {
  Start(L"en");
  QWidget* canvas = dui::CanvasOf(frame->GetHWND());
  ASSERT_NE(canvas, nullptr);
  auto* log = frame->GetPaintManager().FindControl(L"LOGBTN");
  ASSERT_FALSE(log->IsVisible());
  QTest::keyClick(canvas, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(log->IsVisible());
  QTest::keyClick(canvas, Qt::Key_L, Qt::ControlModifier);
  EXPECT_TRUE(log->IsVisible()) << "Ctrl+L alone does nothing";
  QTest::keyClick(canvas, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(log->IsVisible());
}

}  // namespace
}  // namespace orlin
