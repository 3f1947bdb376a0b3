// The login and sync folder windows through the Qt backend (offscreen), in
// both languages: every text fits the control that shows it, measured with
// the real fonts. With ORLIN_SHOT_DIR set, each window is also saved there
// as a PNG to look at.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

#include <chrono>
#include <cstdlib>
#include <functional>

#include "common/text.h"
#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs/login_wnd.h"
#include "ui/dialogs/sync_path_wnd.h"
#include "ui/dialogs/tests/login_test_support.h"
#include "ui/dui/qt/qt_backend.h"

namespace orlin {
namespace {

using namespace dui;

std::filesystem::path SourceRoot() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path().parent_path();
}

class LoginWindowsQtTest : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "login_windows_qt_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
  }
  void SetUp() override {
    UiBackend::Install(std::make_shared<QtBackend>());
    // Skins and images side by side, as in an install directory.
    for (const auto& entry : std::filesystem::directory_iterator(SourceRoot() / "skins")) {
      std::filesystem::create_symlink(entry.path(), resources.path() / entry.path().filename());
    }
    std::filesystem::create_directory_symlink(SourceRoot() / "res", resources.path() / "res");
    CPaintManagerUI::SetResourcePath(resources.path());
    CPaintManagerUI::SetInstance(instance.path());
    std::ofstream(instance.path() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>"
                                                 << GetParam() << "</lang>\n</Orlin>\n";
    controller.settings.dpi = 96;
    controller.settings.language = Utf8ToWide(GetParam());
    controller.settings.syncFolderPath = L"/home/ann/Orlin Sync/我的文件";
  }
  void TearDown() override {
    CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    UiBackend::Install(nullptr);
  }

  // Every shown text of the window fits its control: nothing is cut.
  static void ExpectTextsFit(WindowImplBase& window) {
    auto& pm = window.GetPaintManager();
    auto lock = pm.ModelLock();
    pm.LayoutIfNeeded();
    pm.GetRoot()->Visit([&](CControlUI& c) {
      if (!c.IsVisibleInTree() || c.GetText().empty() || c.GetClass() == L"Control") return true;
      const Rect padding = c.GetTextPadding();
      const int room = c.GetPos().Width() - pm.Scale(padding.left + padding.right) - 2 * pm.Scale(c.GetBorderSize());
      const Size need = pm.MeasureText(c.GetText(), c.GetFont(), kDtSingleLine);
      EXPECT_LE(need.cx, room) << WideToUtf8(window.GetWindowClassName()) << " " << WideToUtf8(c.GetName()) << " \""
                               << WideToUtf8(c.GetText()) << "\"";
      EXPECT_LE(need.cy, c.GetPos().Height()) << WideToUtf8(c.GetName());
      return true;
    });
  }

  static void Shot(WindowImplBase& window, const std::string& name) {
    QApplication::processEvents();
    const char* dir = std::getenv("ORLIN_SHOT_DIR");
    if (!dir) return;
    EXPECT_TRUE(GrabWindow(window.GetHWND(), std::filesystem::path(dir) / (name + "-" + GetParam() + ".png")));
  }

  testsupport::TempDir resources, instance;
  testing::FakeController controller;
  testing::FakeFolderRules rules;
  testing::RecordingPresenter presenter;
};

TEST_P(LoginWindowsQtTest, LoginWindowTextsFitBeforeAndAfterTyping) {
  CLoginWnd wnd(controller, &rules, &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, L"Login - Orlin", CLoginWnd::kStyle, kWsExTopmost, 0, 0));
  wnd.CenterWindow();
  wnd.ShowWindow(true, false);
  ExpectTextsFit(wnd);
  // The fields' hints are the stock edits' placeholders, and fit them too.
  QApplication::processEvents();
  const auto edits = CanvasOf(wnd.GetHWND())->findChildren<QLineEdit*>();
  ASSERT_EQ(edits.size(), 3);
  for (QLineEdit* edit : edits) {
    EXPECT_FALSE(edit->placeholderText().isEmpty());
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(edit->placeholderText()), edit->width());
  }
  EXPECT_EQ(CanvasOf(wnd.GetHWND())->windowTitle().toStdWString(), wnd.GetWindowName());
  Shot(wnd, "login");

  // The other language through the window's own switch.
  wnd.SwitchLanguage(std::string(GetParam()) == "en" ? L"zh_cn" : L"en");
  ExpectTextsFit(wnd);
  Shot(wnd, "login-switched");
  wnd.Close(kModalCancel);
}

TEST_P(LoginWindowsQtTest, SyncFolderWindowTextsFit) {
  SyncSettings record = controller.settings;
  CSyncPathWnd wnd(record, controller, rules, L"ann", &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, L"sync", CSyncPathWnd::kStyle, kWsExTopmost, 0, 0));
  wnd.CenterWindow();
  wnd.ShowWindow(true, false);
  ExpectTextsFit(wnd);
  Shot(wnd, "syncpath");
  wnd.Close(kModalCancel);
}

TEST_P(LoginWindowsQtTest, TextsStillFitAtTheLargestDpi) {
  controller.settings.dpi = 192;
  CLoginWnd login(controller, &rules, &presenter);
  ASSERT_TRUE(login.Create(nullptr, L"Login - Orlin", CLoginWnd::kStyle, kWsExTopmost, 0, 0));
  login.ShowWindow(true, false);
  ExpectTextsFit(login);
  Shot(login, "login-192dpi");
  CSyncPathWnd folder(controller.settings, controller, rules, L"ann", &presenter);
  ASSERT_TRUE(folder.Create(nullptr, L"sync", CSyncPathWnd::kStyle, kWsExTopmost, 0, 0));
  folder.ShowWindow(true, false);
  ExpectTextsFit(folder);
  login.Close(kModalCancel);
  folder.Close(kModalCancel);
}

// The attempt's worker runs the sync folder window modally while the GUI
// thread keeps both windows going; the folder chosen there reaches the login.
TEST_P(LoginWindowsQtTest, TheFolderWindowOfAnAttemptRunsOverTheGuiThread) {
  std::filesystem::create_directories(instance.path() / "Sync");
  controller.settings.syncFolderPath = WideFromPath(instance.path() / "Sync");
  CLoginWnd wnd(controller, &rules, &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, L"Login - Orlin", CLoginWnd::kStyle, kWsExTopmost, 0, 0));
  wnd.ShowWindow(true, false);
  QApplication::processEvents();
  {
    auto& pm = wnd.GetPaintManager();
    auto lock = pm.ModelLock();
    static_cast<CEditUI*>(pm.FindControl(L"IPEDIT"))->UserSetText(L"nas.example");
    static_cast<CEditUI*>(pm.FindControl(L"USERNAMEEDIT"))->UserSetText(L"new");
    static_cast<CEditUI*>(pm.FindControl(L"PASSWORDEDIT"))->UserSetText(L"secret");
  }
  ClickControl(wnd, L"LOGINBTN");

  auto waitFor = [](const std::function<bool()>& done, const char* what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "waited 120 s for " << what;
        return false;
      }
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  };
  WindowImplBase* folderWnd = nullptr;
  // Shown once it is made and filled in (it can be found a moment before).
  ASSERT_TRUE(waitFor(
      [&] {
        folderWnd = WindowImplBase::FindWindow(CSyncPathWnd::kClassName, L"");
        return folderWnd != nullptr && folderWnd->GetHWND()->IsShown();
      },
      "the sync folder window to show"));
  EXPECT_FALSE(wnd.IsWindowEnabled());
  QApplication::processEvents();
  Shot(*folderWnd, "syncpath-over-login");
  ClickControl(*folderWnd, L"OKBTN");
  ASSERT_TRUE(waitFor([&] { return !wnd.AttemptRunning(); }, "the attempt to end"));
  EXPECT_EQ(controller.Count("Login"), 1u);
  EXPECT_EQ(controller.LastLogin().syncFolder, WideFromPath(instance.path() / "Sync"));
  EXPECT_TRUE(wnd.IsWindowEnabled());
  wnd.Close(kModalCancel);
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, LoginWindowsQtTest, ::testing::Values("en", "zh_cn"));

}  // namespace
}  // namespace orlin
