// The settings window (each page), the selective synchronisation window over
// a deep tree, the copy window and the message window through the Win32
// backend (under Wine in the Windows stage), in both languages: every text
// fits the control that shows it, measured with GDI+ and the fonts the
// system has. With ORLIN_SHOT_DIR set, each window is also saved there as a
// PNG, to be looked at beside the Qt backend's.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

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
#include "ui/dui/win32/win32_backend.h"

namespace orlin {
namespace {

using namespace dui;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

void Touch(const fs::path& file, std::size_t size = 1) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << std::string(size, 'x');
}

class DialogWindowsWin32Test : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    backend = std::make_shared<Win32Backend>();
    UiBackend::Install(backend);
    // The shipped skins and images, side by side as in an install.
    const fs::path source(ORLIN_SOURCE_DIR);
    for (const auto& entry : fs::directory_iterator(source / "skins")) {
      fs::copy_file(entry.path(), resources.path() / entry.path().filename());
    }
    fs::copy(source / "res", resources.path() / "res", fs::copy_options::recursive);
    CPaintManagerUI::SetResourcePath(resources.path());
    CPaintManagerUI::SetInstance(instance.path());
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
    controller.settings = record;
  }
  void TearDown() override {
    CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    UiBackend::Install(nullptr);
    backend.reset();
  }

  // Every shown text of the window fits its control: nothing is cut. The
  // native widgets (edits, combos) and the tree's rows are left out.
  static void ExpectTextsFit(WindowImplBase& window) {
    auto& pm = window.GetPaintManager();
    auto lock = pm.ModelLock();
    pm.LayoutIfNeeded();
    pm.GetRoot()->Visit([&](CControlUI& c) {
      const std::wstring cls = c.GetClass();
      if (!c.IsVisibleInTree() || c.GetText().empty() || cls == L"Control" || cls == L"ListLabelElement" ||
          cls == L"Edit" || cls == L"Combo" || cls == L"TreeNode" || (c.GetTextStyle() & kDtEndEllipsis)) {
        return true;
      }
      if (c.GetPos().IsEmpty()) return true;  // on a page not shown
      const Rect padding = c.GetTextPadding();
      const int room = c.GetPos().Width() - pm.Scale(padding.left + padding.right) - 2 * pm.Scale(c.GetBorderSize());
      const Size need = pm.MeasureText(c.GetText(), c.GetFont(), kDtSingleLine);
      EXPECT_LE(need.cx, room) << WideToUtf8(window.GetWindowClassName()) << " " << WideToUtf8(c.GetName()) << " \""
                               << WideToUtf8(c.GetText()) << "\"";
      EXPECT_LE(need.cy, c.GetPos().Height()) << WideToUtf8(c.GetName()) << " \"" << WideToUtf8(c.GetText()) << "\"";
      return true;
    });
  }

  void Shot(WindowImplBase& window, const std::string& name) {
    backend->HandleMessagesFor(100ms);
    const char* dir = std::getenv("ORLIN_SHOT_DIR");
    if (!dir) return;
    EXPECT_TRUE(GrabWindow(window.GetHWND(), fs::path(dir) / (name + "-" + GetParam() + ".png")));
  }

  // Handles this thread's messages until `done` holds (generous deadline).
  bool Until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      backend->HandleMessagesFor(5ms);
    }
    return true;
  }

  std::shared_ptr<Win32Backend> backend;
  testsupport::TempDir resources, instance;
  fs::path sync;
  SyncSettings record;
  testing::FakeController controller;
  testing::RecordingPresenter presenter;
};

TEST_P(DialogWindowsWin32Test, EverySettingsPageFits) {
  CSettingWnd wnd(record, controller, 0, &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, SettingsWindowTitle(record.language), CSettingWnd::kStyle, kWsExTopmost));
  wnd.CenterWindow();
  wnd.ShowWindow(true, false);
  const char* pages[] = {"settings-general", "settings-orlin", "settings-about"};
  for (int tab = 0; tab < 3; ++tab) {
    wnd.SelectTab(tab);
    ExpectTextsFit(wnd);
    Shot(wnd, pages[tab]);
  }
  wnd.Close(kModalCancel);
}

TEST_P(DialogWindowsWin32Test, TheSelectiveSyncWindowShowsADeepTree) {
  fs::path deep = sync;
  for (const char* part : {"Projects", "2024", "Client A", "Drafts", "Old versions"}) {
    deep /= part;
    Touch(deep / "readme.txt");
  }
  Touch(deep / "final-final-v7.docx");
  Touch(sync / "photos" / "IMG_0001.jpg");
  Touch(sync / "music" / "album" / "track01.flac");
  fs::create_directories(sync / "empty folder");
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
    auto* tree = dynamic_cast<CTreeViewUI*>(pm.FindControl(L"IGNORING_TREEVIEW"));
    ASSERT_NE(tree, nullptr);
    std::function<void(CTreeNodeUI*)> open = [&](CTreeNodeUI* node) {
      for (int i = 0; i < node->GetChildNodeCount(); ++i) {
        CTreeNodeUI* child = node->GetChildNode(i);
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
  backend->HandleMessagesFor(20ms);
}

TEST_P(DialogWindowsWin32Test, TheCopyWindowShowsACopyUnderWay) {
  const fs::path source = instance.path() / "Vacation photos";
  for (int i = 0; i < 20; ++i) Touch(source / ("IMG_" + std::to_string(1000 + i) + ".jpg"), 2048);
  Touch(source / "Videos" / "zz-holiday-2024.mp4", 48 * platform::kFileCopyChunk);
  CCPWnd wnd(controller, WideFromPath(source), WideFromPath(sync), CopyWorkerOptions{std::chrono::milliseconds(0)});
  ASSERT_TRUE(wnd.Create(nullptr, CopyWindowTitle(record.language), CCPWnd::kStyle, kWsExTopmost));
  wnd.CenterWindow();
  wnd.ShowWindow(true, false);
  auto& pm = wnd.GetPaintManager();
  ASSERT_TRUE(Until([&] {
    auto lock = pm.ModelLock();
    auto* bar = dynamic_cast<CProgressUI*>(pm.FindControl(L"CURRENTPROGRESS"));
    return !wnd.IsWindow() ||
           (pm.FindControl(L"CURRENTFILELABEL")->GetText() == L"zz-holiday-2024.mp4" && bar && bar->GetValue() >= 10);
  })) << "waited 120 s for the copy of the large file";
  if (wnd.IsWindow()) {
    ExpectTextsFit(wnd);
    Shot(wnd, "copy");
  }
  wnd.Close(kModalCancel);
  backend->HandleMessagesFor(20ms);
}

TEST_P(DialogWindowsWin32Test, TheMessageWindowFitsItsText) {
  CMsgWnd wnd(nullptr, L"");
  ASSERT_TRUE(wnd.Create(nullptr, L"msgwnd", kWsPopup | kWsClipChildren, kWsExTopmost));
  wnd.ShowCancel(true);
  wnd.SetTitle(L"Orlin");
  wnd.SetMessageKey(L"Cloud_LogOff_Msg");
  wnd.CenterWindow();
  wnd.ShowWindow(true, false);
  ExpectTextsFit(wnd);
  Shot(wnd, "message");
  wnd.Close(kModalCancel);
  backend->HandleMessagesFor(20ms);
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, DialogWindowsWin32Test, ::testing::Values("en", "zh_cn"));

}  // namespace
}  // namespace orlin
