// orlin-ctl against windows of the Qt backend (offscreen): requests answered
// on the GUI thread while its event loop runs, and pictures of windows.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tools/orlin-ctl/ctl.h"
#include "ui/dui/automation/automation_server.h"
#include "ui/dui/automation/qt/qt_automation.h"
#include "ui/dui/qt/qt_backend.h"
#include "ui/dui/window_impl_base.h"

// Fontconfig keeps its caches for the life of the process; that is not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

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

class QtAutomationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "automation_qt_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
  }
  void SetUp() override {
    dui::UiBackend::Install(std::make_shared<dui::QtBackend>());
    std::ofstream(dir.path() / "login.xml") << kSkin;
    dui::CPaintManagerUI::SetResourcePath(dir.path());
    dui::CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override { dui::UiBackend::Install(nullptr); }

  // orlin-ctl on a thread of its own while the GUI thread's loop runs.
  int Ctl(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr) {
    std::atomic<bool> done{false};
    int code = -1;
    std::ostringstream o, e;
    std::thread client([&] {
      code = ctl::Run(args, dir.path(), o, e);
      done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done && std::chrono::steady_clock::now() < deadline) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      std::this_thread::sleep_for(1ms);
    }
    client.join();
    EXPECT_TRUE(done) << "orlin-ctl did not end within 120 s";
    if (out) *out = o.str();
    if (err) *err = e.str();
    return code;
  }

  testsupport::TempDir dir;
};

TEST_F(QtAutomationTest, RequestsAreAnsweredOnTheGuiThreadAndShotWritesThePictureShown) {
  LoginWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"Login - Orlin", dui::kWsPopup, 0));
  w.ShowWindow();
  QApplication::processEvents();
  AutomationServer server(QtGuiThreadPost(), QtWindowPicture());
  std::string error;
  ASSERT_TRUE(server.Start(dir.path(), &error)) << error;

  std::string out, err;
  EXPECT_EQ(Ctl({"click", "UILoginWnd", "LOGINBTN"}, &out, &err), 0) << err;
  EXPECT_EQ(w.clicks, 1);
  EXPECT_EQ(Ctl({"set", "UILoginWnd", "USERNAME", "ann"}, &out, &err), 0) << err;
  QApplication::processEvents();
  // What was typed shows in the stock edit the backend keeps in step.
  auto edits = dui::CanvasOf(w.GetHWND())->findChildren<QLineEdit*>();
  ASSERT_EQ(edits.size(), 1);
  EXPECT_EQ(edits[0]->text(), QString("ann"));

  const auto png = dir.path() / "login.png";
  EXPECT_EQ(Ctl({"shot", "UILoginWnd", png.string()}, &out, &err), 0) << err;
  QImage picture(QString::fromStdString(png.string()));
  ASSERT_FALSE(picture.isNull()) << "no readable PNG at " << png;
  EXPECT_EQ(picture.width(), 240 * picture.devicePixelRatio());
  EXPECT_EQ(picture.pixel(50, 40), 0xFF1060C0u);

  EXPECT_EQ(Ctl({"shot", "UILoginWnd", (dir.path() / "no such dir" / "x.png").string()}, &out, &err), 1);
  EXPECT_THAT(err, ::testing::HasSubstr("could not write the picture"));
  server.Stop();
}

}  // namespace
}  // namespace orlin::automation
