// The copy progress window on the headless backend with the shipped
// cpwnd.xml, copying real files.

#include "ui/dialogs/cp_wnd.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/file_copy.h"
#include "ui/dialogs/tests/login_test_support.h"

namespace orlin {
namespace {

using dui::WindowImplBase;
namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

class CopyWndTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    source = install.path() / "Photos";
    Write(source / "a.jpg", "A");
    Write(source / "trip" / "b.jpg", "BB");
    Write(source / "trip" / "day 2" / "c.jpg", "CCC");
  }
  // Runs the window modally on this thread until it ends by itself.
  int RunModal(CCPWnd& wnd) {
    if (!wnd.Create(nullptr, L"Copying - Orlin", CCPWnd::kStyle, dui::kWsExTopmost)) return -1;
    return wnd.ShowModal();
  }
  fs::path source;
};

TEST_F(CopyWndTest, AFolderIsCopiedIntoTheSyncFolderAndTheWindowEndsWithOne) {
  CCPWnd wnd(controller, Str(source), Str(folder), CopyWorkerOptions{std::chrono::milliseconds(0)});
  EXPECT_EQ(RunModal(wnd), 1);
  ASSERT_TRUE(wnd.Summary().has_value());
  EXPECT_EQ(wnd.Summary()->end, CopyEnd::kAllCopied);
  EXPECT_EQ(wnd.Summary()->copiedFiles, 3);
  // The folder's content lands in the sync folder, without the folder's name.
  EXPECT_TRUE(fs::exists(folder / "a.jpg"));
  EXPECT_TRUE(fs::exists(folder / "trip" / "day 2" / "c.jpg"));
  EXPECT_FALSE(fs::exists(folder / "Photos"));
  EXPECT_EQ(TextOf(wnd, L"ALLSIZELABEL"), L"3 / 3");
  EXPECT_EQ(TextOf(wnd, L"MAINTITLES"), L"(100%) ");
  EXPECT_EQ(TextOf(wnd, L"CPTITLE"), L"Copying - Orlin");
  EXPECT_EQ(dui::FindControlAs<dui::CProgressUI>(wnd.GetPaintManager(), L"ALLPROGRESS")->GetValue(), 100);
}

TEST_F(CopyWndTest, TextsFollowLangXml) {
  WriteLanguage("zh_cn");
  CCPWnd wnd(controller, Str(source), Str(folder));
  EXPECT_EQ(RunModal(wnd), 1);
  EXPECT_EQ(TextOf(wnd, L"CPTITLE"), L"正在复制 - Orlin");
  EXPECT_EQ(TextOf(wnd, L"CANCELBTN"), L"取消");
}

TEST_F(CopyWndTest, CancelStopsTheRunningFileAndEndsWithTwoLeavingNoPart) {
  // Large enough that the copy is still on its way when the test sees it.
  Write(source / "zz-big.bin", std::string(32 * platform::kFileCopyChunk, 'z'));
  CCPWnd wnd(controller, Str(source), Str(folder), CopyWorkerOptions{std::chrono::milliseconds(0)});
  ASSERT_TRUE(wnd.Create(nullptr, L"Copying - Orlin", CCPWnd::kStyle, dui::kWsExTopmost));
  // The user presses Cancel while the large file is on its way.
  bool pressed = false;
  PumpUntil(
      [&] {
        if (!pressed && TextOf(wnd, L"CURRENTFILELABEL") == L"zz-big.bin") {
          dui::ClickControl(wnd, L"CANCELBTN");
          pressed = true;
        }
        return !wnd.IsWindow();
      },
      "the copy window to end after Cancel");
  ASSERT_TRUE(pressed) << "the large file was never shown as copied";
  ASSERT_TRUE(wnd.Summary().has_value());
  EXPECT_EQ(wnd.Summary()->end, CopyEnd::kCancelled);
  EXPECT_FALSE(fs::exists(folder / "zz-big.bin"));
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    EXPECT_EQ(e.path().filename().string().find(".syncthing."), std::string::npos) << e.path();
  }
}

#ifndef _WIN32
// A named pipe is no file to copy.
TEST_F(CopyWndTest, AFileThatCannotBeCopiedKeepsTheWindowOpenUntilTheUserEndsIt) {
  ASSERT_EQ(::mkfifo((source / "pipe").c_str(), 0600), 0);
  CCPWnd wnd(controller, Str(source), Str(folder));
  ASSERT_TRUE(wnd.Create(nullptr, L"Copying - Orlin", CCPWnd::kStyle, dui::kWsExTopmost));
  auto* ok = dui::FindControlAs<dui::CButtonUI>(wnd.GetPaintManager(), L"OKBTN");
  // The copy of three small files may well be over by now; what must hold
  // is that OK never shows before the copy's end is known.
  EXPECT_TRUE(!ok->IsEnabled() || wnd.Summary().has_value()) << "OK waits for the copy";
  PumpUntil(
      [&] {
        const bool enabled = ok->IsEnabled();
        EXPECT_TRUE(!enabled || wnd.Summary().has_value()) << "OK enabled before the copy ended";
        return enabled;
      },
      "the copy to finish and OK to be enabled");
  EXPECT_EQ(wnd.Summary()->end, CopyEnd::kSomeFailed);
  EXPECT_TRUE(wnd.IsWindow());
  EXPECT_EQ(TextOf(wnd, L"ALLSIZELABEL"), L"3 / 4");
  dui::ClickControl(wnd, L"OKBTN");
  PumpUntil([&] { return !wnd.IsWindow(); }, "OK to end the window");
}
#endif

TEST_F(CopyWndTest, CopyIntoSyncFolderRefusesWhatCannotBeCopied) {
  // A path that does not exist.
  EXPECT_FALSE(CopyIntoSyncFolder(controller, nullptr, presenter, Str(install.path() / "gone")));
  // The sync folder itself, and a folder holding it.
  EXPECT_FALSE(CopyIntoSyncFolder(controller, nullptr, presenter, Str(folder)));
  EXPECT_FALSE(CopyIntoSyncFolder(controller, nullptr, presenter, Str(install.path())));
  EXPECT_EQ(presenter.Shown(), (std::vector<std::wstring>{L"Orlin|Invalid_directory_Msg", L"Orlin|SyncFolder_Error_Msg",
                                                           L"Orlin|SyncFolder_Error_Msg"}));
  EXPECT_TRUE(backend->Windows().empty());
}

TEST_F(CopyWndTest, ASiblingWhoseNameBeginsLikeTheSyncFolderIsCopied) {
  Write(install.path() / "Sync2" / "note.txt", "n");
  EXPECT_TRUE(CopyIntoSyncFolder(controller, nullptr, presenter, Str(install.path() / "Sync2")));
  EXPECT_TRUE(presenter.Shown().empty());
  EXPECT_TRUE(fs::exists(folder / "note.txt"));
  // A single file lands in the sync folder's root under its own name.
  EXPECT_TRUE(CopyIntoSyncFolder(controller, nullptr, presenter, Str(source / "trip" / "b.jpg")));
  EXPECT_TRUE(fs::exists(folder / "b.jpg"));
}

TEST_F(CopyWndTest, OnlyOneCopyWindowAtATime) {
  bool second = true;
  backend->SetModalHook([&](WindowImplBase&) {
    backend->SetModalHook(nullptr);
    // While the first copy window is open a second copy is dropped silently.
    second = CopyFolderWithWindow(controller, nullptr, Str(source), Str(install.path() / "other"));
  });
  EXPECT_TRUE(CopyFolderWithWindow(controller, nullptr, Str(source), Str(install.path() / "moved")));
  EXPECT_FALSE(second);
  EXPECT_FALSE(fs::exists(install.path() / "other"));
  EXPECT_TRUE(fs::exists(install.path() / "moved" / "trip" / "b.jpg"));
  EXPECT_TRUE(presenter.Shown().empty());
  // Afterwards a copy window opens again.
  EXPECT_TRUE(CopyFolderWithWindow(controller, nullptr, Str(source / "trip"), Str(install.path() / "again")));
  EXPECT_TRUE(fs::exists(install.path() / "again" / "b.jpg"));
}

}  // namespace
}  // namespace orlin
