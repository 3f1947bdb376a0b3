#pragma once
// The settings window (each page), the selective synchronisation window over
// a deep tree, the copy window and the message window in both languages,
// written once against the window layer: every text fits the control that
// shows it, measured by the backend with the fonts the system has. With
// ORLIN_SHOT_DIR set, each window is also saved there as a PNG, so the
// backends' pictures can be looked at side by side.
//
// A backend's suite derives its fixture from DialogWindowsScenarios, installs
// its backend, says how its messages are handled and how a window is
// pictured, and runs each scenario from a TEST_P of its own.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "common/text.h"
#include "platform/file_copy.h"
#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs/cp_wnd.h"
#include "ui/dialogs/ignoring_wnd.h"
#include "ui/dialogs/msg_wnd.h"
#include "ui/dialogs/settings_texts.h"
#include "ui/dialogs/settings_wnd.h"
#include "ui/dialogs/tests/login_test_support.h"

namespace orlin::testing {

// The parameter is the language of the windows ("en", "zh_cn").
class DialogWindowsScenarios : public ::testing::TestWithParam<const char*> {
 protected:
  // The backend's part: install it as the current one, handle this thread's
  // messages for `time`, and save a picture of the window as shown.
  virtual void InstallBackend() = 0;
  virtual void HandleMessagesFor(std::chrono::milliseconds time) = 0;
  virtual bool Grab(dui::WindowImplBase& window, const std::filesystem::path& png) = 0;

  void SetUp() override {
    namespace fs = std::filesystem;
    InstallBackend();
    // The shipped skins and images, side by side as in an install.
    const fs::path source(ORLIN_SOURCE_DIR);
    for (const auto& entry : fs::directory_iterator(source / "skins")) {
      fs::copy_file(entry.path(), resources.path() / entry.path().filename());
    }
    fs::copy(source / "res", resources.path() / "res", fs::copy_options::recursive);
    dui::CPaintManagerUI::SetResourcePath(resources.path());
    dui::CPaintManagerUI::SetInstance(instance.path());
    std::ofstream(instance.path() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>"
                                                 << GetParam() << "</lang>\n</Orlin>\n";
    std::ofstream(instance.path() / "Orlin.ini") << "[product]\noutname=Orlin_Desktop_Sync\n";
    sync = instance.path() / "Orlin Sync";
    fs::create_directories(sync);
    record.language = Utf8ToWide(GetParam());
    record.dpi = 96;
    record.syncFolderPath = WideFromPath(sync);
    record.ignoreText = L"photos\nnotes.txt\n";
    record.deviceId = L"GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6";
    record.receiveLimit = 1024;
    record.sendLimit = 256;
    record.versionsKept = 5;
    record.pullOrder = kPullOldestFirst;
    record.hideFromTaskbar = true;
    controller.settings = record;
  }
  void TearDown() override {
    dui::CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    dui::UiBackend::Install(nullptr);
  }

  static void Touch(const std::filesystem::path& file, std::size_t size = 1) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << std::string(size, 'x');
  }

  // Every shown text of the window fits its control: nothing is cut. The
  // native widgets (edits, combos) and the tree's rows are left out.
  static void ExpectTextsFit(dui::WindowImplBase& window) {
    auto& pm = window.GetPaintManager();
    auto lock = pm.ModelLock();
    pm.LayoutIfNeeded();
    pm.GetRoot()->Visit([&](dui::CControlUI& c) {
      const std::wstring cls = c.GetClass();
      if (!c.IsVisibleInTree() || c.GetText().empty() || cls == L"Control" || cls == L"ListLabelElement" ||
          cls == L"Edit" || cls == L"Combo" || cls == L"TreeNode" || (c.GetTextStyle() & dui::kDtEndEllipsis)) {
        return true;
      }
      if (c.GetPos().IsEmpty()) return true;  // on a page not shown
      const dui::Rect padding = c.GetTextPadding();
      const int room = c.GetPos().Width() - pm.Scale(padding.left + padding.right) - 2 * pm.Scale(c.GetBorderSize());
      const dui::Size need = pm.MeasureText(c.GetText(), c.GetFont(), dui::kDtSingleLine);
      EXPECT_LE(need.cx, room) << WideToUtf8(window.GetWindowClassName()) << " " << WideToUtf8(c.GetName()) << " \""
                               << WideToUtf8(c.GetText()) << "\"";
      EXPECT_LE(need.cy, c.GetPos().Height()) << WideToUtf8(c.GetName()) << " \"" << WideToUtf8(c.GetText()) << "\"";
      return true;
    });
  }

  void Shot(dui::WindowImplBase& window, const std::string& name) {
    HandleMessagesFor(std::chrono::milliseconds(100));
    const char* dir = std::getenv("ORLIN_SHOT_DIR");
    if (!dir) return;
    EXPECT_TRUE(Grab(window, std::filesystem::path(dir) / (name + "-" + GetParam() + ".png")));
  }

  // Handles this thread's messages until `done` holds (generous deadline).
  bool Until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      HandleMessagesFor(std::chrono::milliseconds(5));
    }
    return true;
  }

  // Each page of the settings window; the device ID shows whole on About.
  void EverySettingsPageFits() {
    CSettingWnd wnd(record, controller, 0, &presenter);
    ASSERT_TRUE(wnd.Create(nullptr, SettingsWindowTitle(record.language), CSettingWnd::kStyle, dui::kWsExTopmost));
    wnd.CenterWindow();
    wnd.ShowWindow(true, false);
    const char* pages[] = {"settings-general", "settings-orlin", "settings-about"};
    for (int tab = 0; tab < 3; ++tab) {
      wnd.SelectTab(tab);
      ExpectTextsFit(wnd);
      Shot(wnd, pages[tab]);
    }
    {
      auto& pm = wnd.GetPaintManager();
      auto lock = pm.ModelLock();
      dui::CControlUI* id = pm.FindControl(L"DEVICEID_LABEL2");
      ASSERT_NE(id, nullptr);
      EXPECT_LE(pm.MeasureText(id->GetText(), id->GetFont(), dui::kDtSingleLine).cx, id->GetPos().Width());
    }
    wnd.Close(kModalCancel);
    HandleMessagesFor(std::chrono::milliseconds(20));
  }

  void TheSelectiveSyncWindowShowsADeepTree() {
    std::filesystem::path deep = sync;
    for (const char* part : {"Projects", "2024", "Client A", "Drafts", "Old versions"}) {
      deep /= part;
      Touch(deep / "readme.txt");
    }
    Touch(deep / "final-final-v7.docx");
    Touch(sync / "photos" / "IMG_0001.jpg");
    Touch(sync / "photos" / "IMG_0002.jpg");
    Touch(sync / "music" / "album" / "track01.flac");
    std::filesystem::create_directories(sync / "empty folder");
    Touch(sync / "notes.txt");
    Touch(sync / "taxes.pdf");
    CIgnoredWnd wnd(record);
    ASSERT_TRUE(wnd.Create(nullptr, IgnoringWindowTitle(record.language), CIgnoredWnd::kStyle, 0));
    wnd.CenterWindow();
    wnd.ShowWindow(true, false);
    ASSERT_TRUE(Until([&] { return wnd.TreeReady(); })) << "waited 120 s for the tree";
    {
      auto& pm = wnd.GetPaintManager();
      auto lock = pm.ModelLock();
      auto* tree = dynamic_cast<dui::CTreeViewUI*>(pm.FindControl(L"IGNORING_TREEVIEW"));
      ASSERT_NE(tree, nullptr);
      // Open the deep branch, as the user clicks down to it.
      std::function<void(dui::CTreeNodeUI*)> open = [&](dui::CTreeNodeUI* node) {
        for (int i = 0; i < node->GetChildNodeCount(); ++i) {
          dui::CTreeNodeUI* child = node->GetChildNode(i);
          const std::wstring name = child->GetText();
          if (name == L"Projects" || name == L"2024" || name == L"Client A" || name == L"Drafts" ||
              name == L"Old versions") {
            child->SetExpanded(true);
            open(child);
          }
          if (name == L"Drafts") child->GetChildNode(0)->SetCheck(true);
        }
      };
      open(tree->GetRoot(0));
    }
    ExpectTextsFit(wnd);
    Shot(wnd, "selective-sync");
    wnd.Close(kModalCancel);
    HandleMessagesFor(std::chrono::milliseconds(20));
  }

  void TheCopyWindowShowsACopyUnderWay() {
    const std::filesystem::path source = instance.path() / "Vacation photos";
    for (int i = 0; i < 20; ++i) Touch(source / ("IMG_" + std::to_string(1000 + i) + ".jpg"), 2048);
    Touch(source / "Videos" / "zz-holiday-2024.mp4", 48 * platform::kFileCopyChunk);
    CCPWnd wnd(controller, WideFromPath(source), WideFromPath(sync), CopyWorkerOptions{std::chrono::milliseconds(0)});
    ASSERT_TRUE(wnd.Create(nullptr, CopyWindowTitle(record.language), CCPWnd::kStyle, dui::kWsExTopmost));
    wnd.CenterWindow();
    wnd.ShowWindow(true, false);
    auto& pm = wnd.GetPaintManager();
    ASSERT_TRUE(Until([&] {
      auto lock = pm.ModelLock();
      auto* bar = dynamic_cast<dui::CProgressUI*>(pm.FindControl(L"CURRENTPROGRESS"));
      return !wnd.IsWindow() || (pm.FindControl(L"CURRENTFILELABEL")->GetText() == L"zz-holiday-2024.mp4" && bar &&
                                 bar->GetValue() >= 10);
    })) << "waited 120 s for the copy of the large file";
    if (wnd.IsWindow()) {
      ExpectTextsFit(wnd);
      Shot(wnd, "copy");
    }
    wnd.Close(kModalCancel);
    HandleMessagesFor(std::chrono::milliseconds(20));
  }

  void TheMessageWindowFitsItsText() {
    CMsgWnd wnd(nullptr, L"");
    ASSERT_TRUE(wnd.Create(nullptr, L"msgwnd", dui::kWsPopup | dui::kWsClipChildren, dui::kWsExTopmost));
    wnd.ShowCancel(true);
    wnd.SetTitle(L"Orlin");
    wnd.SetMessageKey(L"Cloud_LogOff_Msg");
    wnd.CenterWindow();
    wnd.ShowWindow(true, false);
    ExpectTextsFit(wnd);
    Shot(wnd, "message");
    wnd.Close(kModalCancel);
    HandleMessagesFor(std::chrono::milliseconds(20));
  }

  testsupport::TempDir resources, instance;
  std::filesystem::path sync;
  SyncSettings record;
  FakeController controller;
  RecordingPresenter presenter;
};

}  // namespace orlin::testing
