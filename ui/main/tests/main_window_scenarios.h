#pragma once
// The main window as the program shows it, written once against the window
// layer: the product's skins and images, the real status lists and tray
// menu, the fake controller with a few sync events and totals. Every text of
// the toolbar, status area and tab row fits its control in both languages,
// with the backend's own measures, and no control of a row overlaps another
// or sticks out; a picture of each language is written where
// ORLIN_SCREENSHOT_DIR points.
//
// A backend's suite derives its fixture from MainWindowScenarios, installs
// its backend, says where the skins lie, how its messages are handled and how
// a window is pictured, and runs the scenarios from tests of its own beside
// what only that backend can check (its input, its native windows).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/orlin_frame_wnd.h"

namespace orlin::testing {

class MainWindowScenarios : public ::testing::Test {
 protected:
  // The backend's part: install it as the current one, the folder of the
  // skins and res/, handle this thread's messages for `time`, and save a
  // picture of the window as shown.
  virtual void InstallBackend() = 0;
  virtual std::filesystem::path Resources() = 0;
  virtual void HandleMessagesFor(std::chrono::milliseconds time) = 0;
  virtual bool Grab(dui::NativeWindow* window, const std::filesystem::path& png) = 0;

  void SetUp() override {
    InstallBackend();
    dui::CPaintManagerUI::SetResourcePath(Resources());
    dui::CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override {
    frame.reset();
    dui::UiBackend::Install(nullptr);
  }

  static SyncEventRecord Event(const char* action, const char* path, const char* time) {
    SyncEventRecord r;
    SetField(r.action, action);
    SetField(r.path, path);
    SetField(r.time, time);
    return r;
  }

  // The main window in `language`, created as the program creates it, once
  // its view is up, the first resume asked for and the data thread running.
  void Start(const std::wstring& language) {
    FrameServices s;
    s.makeController = [this, language](COrlinFrameWnd&) {
      auto c = std::make_unique<FakeController>();
      c->settings.language = language;
      c->settings.syncFolderPath = syncFolderPath;
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
    ASSERT_TRUE(Until([&] { return frame->IsStarted() && controller->Count("StartSync") == 1; },
                      "the main view and its first resume"));
    frame->SendMessageW(kMsgTotalsChanged);
    frame->SendMessageW(kMsgRatesChanged);
    frame->SetStatusLabel(L"Syncing_Event");
    frame->SetProgress(64);
    ASSERT_TRUE(Until([&] { return controller->Count("EnsureEngineRunning") >= 2; }, "the data thread"));
  }

  // The toolbar buttons that appear with the poller's counts take room too.
  void ShowEveryToolbarButton() {
    frame->SendMessageW(kMsgOverrideAvailable, 1);
    frame->GetPaintManager().FindControl(L"REVERTBTN")->SetVisible(true);
    frame->SendMessageW(kMsgFailedCount, 2);
    HandleMessagesFor(std::chrono::milliseconds(20));
  }

  // The controller's three sync events, listed.
  void ExpectTheSyncEventsListed() {
    auto* events = dynamic_cast<dui::CListUI*>(frame->GetPaintManager().FindControl(L"SYNCEVENTSLIST"));
    ASSERT_NE(events, nullptr);
    EXPECT_TRUE(Until([&] { return events->GetCount() == 3; }, "the three sync events in their list"));
  }

  // Handles this thread's messages until `done` holds; false after a
  // failure naming `what` at the (generous) deadline.
  bool Until(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done()) {
      HandleMessagesFor(std::chrono::milliseconds(10));
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what;
        return false;
      }
    }
    HandleMessagesFor(std::chrono::milliseconds(20));
    return true;
  }

  // Every visible single-line text of the window's chrome (toolbar, status
  // area, tab row) fits its control, and no two visible controls of one row
  // overlap.
  void ExpectChromeFits(const std::string& language) {
    auto& pm = frame->GetPaintManager();
    auto lock = pm.ModelLock();
    pm.LayoutIfNeeded();
    for (const wchar_t* area : {L"TOOLBAR", L"STATUSAREA", L"TABBAR"}) {
      dui::CControlUI* root = pm.FindControl(area);
      ASSERT_NE(root, nullptr);
      root->Visit([&](dui::CControlUI& c) {
        if (!c.IsVisibleInTree()) return true;
        const std::string name(c.GetName().begin(), c.GetName().end());
        if (!c.GetText().empty() && !(c.GetTextStyle() & (dui::kDtEndEllipsis | dui::kDtWordBreak))) {
          const dui::Size text = pm.MeasureText(c.GetText(), c.GetFont(), c.GetTextStyle());
          const dui::Rect pad = c.GetTextPadding();
          const int room = c.GetPos().Width() - pm.Scale(pad.left + pad.right);
          EXPECT_LE(text.cx, room) << language << ": the text of " << name << " is cut";
          EXPECT_LE(text.cy, c.GetPos().Height()) << language << ": " << name << " is too low for its text";
        }
        if (auto* box = dynamic_cast<dui::CHorizontalLayoutUI*>(c.AsContainer())) {
          dui::Rect last{};
          bool first = true;
          for (int i = 0; i < box->GetCount(); ++i) {
            dui::CControlUI* child = box->GetItemAt(i);
            if (!child->IsVisible()) continue;
            const std::string childName(child->GetName().begin(), child->GetName().end());
            if (!first) {
              EXPECT_LE(last.right, child->GetPos().left)
                  << language << ": " << childName << " overlaps the control before it in " << name;
            }
            EXPECT_LE(child->GetPos().right, box->GetPos().right) << language << ": " << childName << " sticks out of "
                                                                  << name;
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
    HandleMessagesFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(Grab(frame->GetHWND(), std::filesystem::path(out) / file));
  }

  // Every text fits in English; the language switched at run time changes
  // the texts at once, and they fit in Chinese as well.
  void EveryTextFitsInEnglishAndChinese() {
    ExpectChromeFits("en");
    Shoot("main-en.png");
    EXPECT_EQ(frame->GetPaintManager().FindControl(L"REFRESHBTN")->GetText(), L"Refresh");

    frame->SendMessageW(kMsgLanguageChanged, 1);
    HandleMessagesFor(std::chrono::milliseconds(20));
    EXPECT_EQ(frame->GetPaintManager().FindControl(L"REFRESHBTN")->GetText(), L"刷新");
    EXPECT_EQ(frame->GetPaintManager().FindControl(L"EVENTLABEL")->GetText(), L"正在同步...");
    ExpectChromeFits("zh_cn");
    Shoot("main-zh_cn.png");
  }

  // At the smallest size the window allows, everything still fits in both
  // languages.
  void SmallestWindowStillFitsInBothLanguages() {
    frame->SendMessageW(kMsgOverrideAvailable, 1);
    frame->GetPaintManager().FindControl(L"REVERTBTN")->SetVisible(true);
    const dui::Size least = frame->GetPaintManager().GetMinInfo();
    dui::NativeWindow* native = frame->GetHWND();
    const dui::Rect r = native->GetRect();
    native->SetRect(dui::Rect{r.left, r.top, r.left + least.cx, r.top + least.cy});
    HandleMessagesFor(std::chrono::milliseconds(20));
    ExpectChromeFits("en at the smallest size");
    Shoot("main-en-smallest.png");
    frame->SendMessageW(kMsgLanguageChanged, 1);
    HandleMessagesFor(std::chrono::milliseconds(20));
    ExpectChromeFits("zh_cn at the smallest size");
    Shoot("main-zh_cn-smallest.png");
  }

  // As the settings give it; a backend's suite may name one of its system.
  std::wstring syncFolderPath = L"/home/ann/Orlin 同步";
  testsupport::TempDir dir;
  std::unique_ptr<COrlinFrameWnd> frame;
  FakeController* controller = nullptr;
};

}  // namespace orlin::testing
