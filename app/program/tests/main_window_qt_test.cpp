// The main window as the program shows it: the Qt backend offscreen, the
// product's skins and images, the real status lists and tray menu, the fake
// controller. Every text of the toolbar, status area and tab row fits its
// control in both languages; keys reach the window through Qt; a picture of
// each language is written where ORLIN_SCREENSHOT_DIR points.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dui/qt/qt_backend.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/orlin_frame_wnd.h"

// Fontconfig keeps its caches for the life of the process; that is not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace orlin {
namespace {

using namespace std::chrono_literals;
using testing::FakeController;

constexpr auto kDeadline = 120s;

SyncEventRecord Event(const char* action, const char* path, const char* time) {
  SyncEventRecord r;
  SetField(r.action, action);
  SetField(r.path, path);
  SetField(r.time, time);
  return r;
}

class MainWindowQtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "program_main_window_qt_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
  }
  void SetUp() override {
    dui::UiBackend::Install(std::make_shared<dui::QtBackend>());
    dui::CPaintManagerUI::SetResourcePath(ORLIN_PROGRAM_DIR);
    dui::CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override {
    frame.reset();
    dui::UiBackend::Install(nullptr);
  }

  void Start(const std::wstring& language) {
    FrameServices s;
    s.makeController = [this, language](COrlinFrameWnd&) {
      auto c = std::make_unique<FakeController>();
      c->settings.language = language;
      c->settings.syncFolderPath = L"/home/ann/Orlin 同步";
      c->settings.dpi = 96;
      c->model.syncEvents.AppendCapped(Event("Local modified", "reports/2020/summary.docx", "2020-03-01  10:11:12"));
      c->model.syncEvents.AppendCapped(Event("Remote added", "photos/海边/IMG_0412.jpg", "2020-03-01  10:12:40"));
      c->model.syncEvents.AppendCapped(Event("Local deleted", "notes.txt", "2020-03-01  10:13:05"));
      c->model.syncEvents.MarkChanged();
      c->model.UpdateSummary([](SystemSummary& summary) {
        summary.fileCountText = L"1284";
        summary.folderCountText = L"97";
        summary.sizeText = L"3.42 GiB";
        summary.uploadText = L"128 KiB/s (1.20 GiB)";
        summary.downloadText = L"2.50 MiB/s (12.8 GiB)";
      });
      controller = c.get();
      return c;
    };
    s.makeLists = [](COrlinFrameWnd& w) { return MakeStatusListsPart(w, w, {}); };
    s.makeTray = [](COrlinFrameWnd& w) { return MakeTrayMenuPart(w, w); };
    s.installDir = dir.path();
    s.openFolder = [](const std::filesystem::path&) { return true; };
    s.openUrl = [](const std::string&) { return true; };
    s.quit = [] {};
    frame = std::make_unique<COrlinFrameWnd>(std::move(s));
    ASSERT_TRUE(frame->Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0));
    ASSERT_TRUE(ProcessUntil([&] { return frame->IsStarted() && controller->Count("StartSync") == 1; },
                             "the main view and its first resume"));
    frame->SendMessageW(kMsgTotalsChanged);
    frame->SendMessageW(kMsgRatesChanged);
    frame->SetStatusLabel(L"Syncing_Event");
    frame->SetProgress(64);
    ASSERT_TRUE(ProcessUntil([&] { return controller->Count("EnsureEngineRunning") >= 2; }, "the data thread"));
  }

  bool ProcessUntil(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(1ms);
    }
    QApplication::processEvents();
    return true;
  }

  // Every visible single-line text of the window's chrome (title bar,
  // toolbar, status area, tab row) fits its control, and no two visible
  // controls of one row overlap.
  void ExpectChromeFits(const char* language) {
    auto& pm = frame->GetPaintManager();
    pm.LayoutIfNeeded();
    for (const wchar_t* area : {L"TOOLBAR", L"STATUSAREA", L"TABBAR"}) {
      dui::CControlUI* root = pm.FindControl(area);
      ASSERT_NE(root, nullptr);
      root->Visit([&](dui::CControlUI& c) {
        if (!c.IsVisibleInTree()) return true;
        const std::string name(c.GetName().begin(), c.GetName().end());
        if (!c.GetText().empty() && !(c.GetTextStyle() & (dui::kDtEndEllipsis | dui::kDtWordBreak))) {
          dui::Size text = pm.MeasureText(c.GetText(), c.GetFont(), c.GetTextStyle());
          const dui::Rect pad = c.GetTextPadding();
          const int room = c.GetPos().Width() - pm.Scale(pad.left + pad.right);
          EXPECT_LE(text.cx, room) << language << ": the text of " << name << " is cut: "
                                   << std::string(c.GetText().begin(), c.GetText().end()).size() << " bytes";
          EXPECT_LE(text.cy, c.GetPos().Height()) << language << ": " << name << " is too low for its text";
        }
        if (auto* box = c.AsContainer()) {
          dui::Rect last{};
          bool first = true;
          const bool horizontal = dynamic_cast<dui::CHorizontalLayoutUI*>(box) != nullptr;
          for (int i = 0; horizontal && i < box->GetCount(); ++i) {
            dui::CControlUI* child = box->GetItemAt(i);
            if (!child->IsVisible()) continue;
            if (!first) {
              EXPECT_LE(last.right, child->GetPos().left)
                  << language << ": " << std::string(child->GetName().begin(), child->GetName().end())
                  << " overlaps the control before it in " << name;
            }
            EXPECT_LE(child->GetPos().right, box->GetPos().right)
                << language << ": " << std::string(child->GetName().begin(), child->GetName().end())
                << " sticks out of " << name;
            last = child->GetPos();
            first = false;
          }
        }
        return true;
      });
    }
  }

  void Shoot(const std::string& file) {
    const char* out = std::getenv("ORLIN_SCREENSHOT_DIR");
    if (!out) return;
    QApplication::processEvents();
    EXPECT_TRUE(dui::GrabWindow(frame->GetHWND(), std::filesystem::path(out) / file));
  }

  testsupport::TempDir dir;
  std::unique_ptr<COrlinFrameWnd> frame;
  FakeController* controller = nullptr;
};

TEST_F(MainWindowQtTest, EveryTextFitsInEnglishAndChineseAndSwitchesAtRunTime) {
  Start(L"en");
  // The toolbar buttons that appear with the poller's counts take room too.
  frame->SendMessageW(kMsgOverrideAvailable, 1);
  frame->GetPaintManager().FindControl(L"REVERTBTN")->SetVisible(true);
  frame->SendMessageW(kMsgFailedCount, 2);
  ProcessUntil([] { return true; }, "");
  ExpectChromeFits("en");
  Shoot("main-en.png");
  EXPECT_EQ(frame->GetPaintManager().FindControl(L"REFRESHBTN")->GetText(), L"Refresh");

  frame->SendMessageW(kMsgLanguageChanged, 1);
  ProcessUntil([] { return true; }, "");
  EXPECT_EQ(frame->GetPaintManager().FindControl(L"REFRESHBTN")->GetText(), L"刷新");
  EXPECT_EQ(frame->GetPaintManager().FindControl(L"EVENTLABEL")->GetText(), L"正在同步...");
  ExpectChromeFits("zh_cn");
  Shoot("main-zh_cn.png");
}

TEST_F(MainWindowQtTest, SmallestWindowStillFitsInBothLanguages) {
  Start(L"en");
  frame->SendMessageW(kMsgOverrideAvailable, 1);
  frame->GetPaintManager().FindControl(L"REVERTBTN")->SetVisible(true);
  const dui::Size least = frame->GetPaintManager().GetMinInfo();
  auto* native = frame->GetHWND();
  dui::Rect r = native->GetRect();
  native->SetRect(dui::Rect{r.left, r.top, r.left + least.cx, r.top + least.cy});
  ProcessUntil([] { return true; }, "");
  ExpectChromeFits("en at the smallest size");
  Shoot("main-en-smallest.png");
  frame->SendMessageW(kMsgLanguageChanged, 1);
  ProcessUntil([] { return true; }, "");
  ExpectChromeFits("zh_cn at the smallest size");
  Shoot("main-zh_cn-smallest.png");
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
