// The main window as the program shows it through the Qt backend offscreen,
// with the skins and images laid out beside the built program (the
// scenarios are ui/main/tests/main_window_scenarios.h, shared with the Win32
// backend's suite); keys reach the window through Qt.

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
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

// The window repaints only what changed; after a run of live updates (the
// poller's totals, rates, status and progress, buttons that appear, the
// language switched) the screen must show what a whole paint makes now.
TEST_F(MainWindowQtTest, AfterLiveUpdatesTheScreenShowsWhatAWholePaintMakes) {
  Start(L"en");
  frame->ShowWindow();
  QWidget* canvas = dui::CanvasOf(frame->GetHWND());
  ASSERT_NE(canvas, nullptr);
  // Changes of layout first (each repaints the whole window: the buttons
  // that appear, the language, the status text that sizes its label), then
  // what the poller changes while the layout stays.
  ShowEveryToolbarButton();
  frame->SendMessageW(kMsgLanguageChanged, 1);
  frame->SetStatusLabel(L"Scanning_Event");
  HandleMessagesFor(std::chrono::milliseconds(50));
  for (int i = 0; i < 6; ++i) {
    controller->model.UpdateSummary([i](SystemSummary& summary) {
      summary.fileCountText = std::to_wstring(1284 + i * 7);
      summary.downloadText = std::to_wstring(i * 131) + L" KiB/s (12.8 GiB)";
      summary.uploadText = i % 2 ? L"0 B/s (1.20 GiB)" : L"1.5 MiB/s (1.21 GiB)";
    });
    frame->SendMessageW(kMsgTotalsChanged);
    frame->SendMessageW(kMsgRatesChanged);
    frame->SetProgress(40 + i * 11);
    HandleMessagesFor(std::chrono::milliseconds(30));
  }
  HandleMessagesFor(std::chrono::milliseconds(100));
  const QImage onScreen =
      canvas->screen()->grabWindow(canvas->winId()).toImage().convertToFormat(QImage::Format_RGB32);
  const QImage whole = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(onScreen.size(), whole.size());
  int differ = 0;
  for (int y = 0; y < whole.height(); ++y) {
    for (int x = 0; x < whole.width(); ++x) differ += onScreen.pixel(x, y) != whole.pixel(x, y);
  }
  EXPECT_EQ(differ, 0) << "pixels the screen kept from before";
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
