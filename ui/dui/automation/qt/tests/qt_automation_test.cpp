// orlin-ctl against windows of the Qt backend (offscreen): requests answered
// on the GUI thread while its event loop runs, and pictures of windows (the
// scenario is ui/dui/automation/tests/automation_scenarios.h, shared with the
// Win32 backend's suite).

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>

#include "ui/dui/automation/qt/qt_automation.h"
#include "ui/dui/automation/tests/automation_scenarios.h"
#include "ui/dui/qt/qt_backend.h"
#include "ui/dui/qt/tests/qt_test_application.h"

// Fontconfig keeps its caches for the life of the process; that is not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace orlin::automation {
namespace {

class QtAutomationTest : public AutomationScenarios {
 protected:
  static void SetUpTestSuite() { dui::EnsureQtApplication("automation_qt_test"); }
  void InstallBackend() override { dui::UiBackend::Install(std::make_shared<dui::QtBackend>()); }
  void HandleMessagesFor(std::chrono::milliseconds time) override { dui::HandleQtEventsFor(time); }
  UiThreadPost PostToUi() override { return QtGuiThreadPost(); }
  WindowPicture PictureOfWindow() override { return QtWindowPicture(); }
  std::optional<std::string> EditText(dui::WindowImplBase& window) override {
    const auto edits = dui::CanvasOf(window.GetHWND())->findChildren<QLineEdit*>();
    if (edits.size() != 1) return std::nullopt;
    return edits[0]->text().toStdString();
  }
  std::optional<Picture> ReadPicture(const std::filesystem::path& png, int x, int y) override {
    const QImage picture(QString::fromStdString(png.string()));
    if (picture.isNull()) return std::nullopt;
    return Picture{static_cast<int>(picture.width() / picture.devicePixelRatio()), picture.pixel(x, y)};
  }
};

TEST_F(QtAutomationTest, RequestsAreAnsweredOnTheGuiThreadAndShotWritesThePictureShown) {
  RequestsAreAnsweredOnTheUiThreadAndShotWritesThePictureShown();
}

}  // namespace
}  // namespace orlin::automation
