// The updater's window on the headless backend with the shipped
// updater.xml, its work behind a fake server and a fake computer.

#include "tools/auto-updater/updater_wnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "app/store/state_files.h"
#include "common/sha256.h"
#include "common/window_messages.h"
#include "ui/dialogs/message_table.h"
#include "ui/dialogs/tests/login_test_support.h"

namespace orlin::update {
namespace {

namespace fs = std::filesystem;

struct Server final : UpdateServer {
  std::string manifest;
  std::string package = std::string(4096, 'q');
  // While set, the download waits after its first piece until it is stopped.
  std::atomic<bool> holdDownload{false};
  std::atomic<bool> downloading{false};

  ServerAnswer Fetch(const std::string&, const std::string&) override {
    ServerAnswer answer;
    answer.outcome = ServerAnswer::Outcome::kAnswered;
    answer.status = 200;
    answer.body = manifest;
    return answer;
  }
  ServerAnswer Download(const std::string&, const std::string&,
                        const std::function<bool(std::string_view)>& sink) override {
    ServerAnswer answer;
    answer.status = 200;
    downloading = true;
    for (std::size_t at = 0; at < package.size(); at += 1024) {
      if (!sink(std::string_view(package).substr(at, 1024))) {
        answer.outcome = ServerAnswer::Outcome::kStopped;
        return answer;
      }
      while (holdDownload) {
        if (!sink({})) {
          answer.outcome = ServerAnswer::Outcome::kStopped;
          return answer;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    answer.outcome = ServerAnswer::Outcome::kAnswered;
    return answer;
  }
};

struct Computer final : UpdateSystem {
  std::atomic<int> installs{0};
  bool EndOrlin() override { return true; }
  bool RunInstaller(const fs::path&) override {
    ++installs;
    return true;
  }
  bool StartOrlin() override { return true; }
};

class UpdaterWndTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    const InstallLayout layout{install.path()};
    fs::create_directories(layout.EngineHome());
    std::ofstream(layout.Marker()) << "AAAA";
    StateFiles files(layout, presenter);
    ASSERT_TRUE(files.WriteAccountArchive({L"anna", L"nas:8443"}));
    ASSERT_TRUE(files.WriteServerFingerprint(std::string(64, 'f')));
    Announce("1.0.0");
  }
  void Announce(const std::string& version) {
    server.manifest = R"({"version": ")" + version + R"(", "packages": {")" + PackageKind() +
                      R"(": {"url": "/p.deb", "sha256": ")" + Sha256Hex(server.package) + R"(", "size": 4096}}})";
  }
  std::unique_ptr<Updater> MakeUpdater() {
    UpdaterOptions options;
    options.layout = InstallLayout{install.path()};
    options.currentVersion = "1.0.0";
    options.downloadDir = install.path() / "update";
    return std::make_unique<Updater>(options, server, computer);
  }
  void Open(CAutoUpdaterWnd& wnd) {
    ASSERT_TRUE(wnd.Create(nullptr, kUpdaterWindowTitle, CAutoUpdaterWnd::kStyle, 0));
    PumpUntil([&] { return wnd.CurrentStage() != CAutoUpdaterWnd::Stage::kChecking; }, "the check");
  }
  bool Enabled(CAutoUpdaterWnd& wnd, const std::wstring& name) {
    return wnd.GetPaintManager().FindControl(name)->IsEnabled();
  }

  Server server;
  Computer computer;
};

TEST_F(UpdaterWndTest, TheSameVersionIsUpToDateUnderTheFixedTitle) {
  auto updater = MakeUpdater();
  CAutoUpdaterWnd wnd(*updater, "1.0.0", L"en");
  Open(wnd);
  EXPECT_EQ(wnd.GetWindowClassName(), L"UIAutoUpdaterWnd");
  EXPECT_EQ(wnd.GetWindowName(), L"Tarn AutoUpdater");
  EXPECT_EQ(wnd.CurrentStage(), CAutoUpdaterWnd::Stage::kFinished);
  EXPECT_EQ(wnd.StatusKey(), L"Update_UpToDate_Msg");
  EXPECT_EQ(TextOf(wnd, L"STATUSTEXT"), L"Orlin is up to date.");
  EXPECT_EQ(TextOf(wnd, L"CURRENTVERSIONLABEL"), L"1.0.0");
  EXPECT_EQ(TextOf(wnd, L"NEWVERSIONLABEL"), L"1.0.0");
  EXPECT_FALSE(Enabled(wnd, L"UPDATEBTN"));
  dui::ClickControl(wnd, L"CANCELBTN");
  PumpUntil([&] { return !wnd.IsWindow(); }, "the window to close");
}

// Orlin's language switch (2026, wParam 1 for Chinese) changes the labels,
// the buttons and the status line; the title stays.
TEST_F(UpdaterWndTest, TextsFollowTheLanguageOrlinSends) {
  Announce("1.1.0");
  auto updater = MakeUpdater();
  CAutoUpdaterWnd wnd(*updater, "1.0.0", L"en");
  Open(wnd);
  EXPECT_EQ(wnd.StatusKey(), L"Update_Available_Msg");
  EXPECT_EQ(TextOf(wnd, L"UPDATEBTN"), L"Update");
  wnd.SendMessageW(kMsgLanguageChanged, 1, 0);
  EXPECT_EQ(TextOf(wnd, L"UPDATEBTN"), L"升  级");
  EXPECT_EQ(TextOf(wnd, L"STATUSTEXT"), *MessageText(L"Update_Available_Msg", L"zh_cn"));
  EXPECT_EQ(wnd.GetWindowName(), L"Tarn AutoUpdater");
  wnd.SendMessageW(kMsgLanguageChanged, 0, 0);
  EXPECT_EQ(TextOf(wnd, L"CANCELBTN"), L"Cancel");
  wnd.Close();
}

TEST_F(UpdaterWndTest, UpdateDownloadsInstallsAndOffersToClose) {
  Announce("1.1.0");
  auto updater = MakeUpdater();
  CAutoUpdaterWnd wnd(*updater, "1.0.0", L"en");
  Open(wnd);
  ASSERT_EQ(wnd.CurrentStage(), CAutoUpdaterWnd::Stage::kChecked);
  EXPECT_EQ(TextOf(wnd, L"NEWVERSIONLABEL"), L"1.1.0");
  ASSERT_TRUE(Enabled(wnd, L"UPDATEBTN"));
  dui::ClickControl(wnd, L"UPDATEBTN");
  PumpUntil([&] { return wnd.CurrentStage() == CAutoUpdaterWnd::Stage::kFinished; }, "the update");
  EXPECT_EQ(wnd.StatusKey(), L"Update_Done_Msg");
  EXPECT_EQ(computer.installs.load(), 1);
  EXPECT_EQ(TextOf(wnd, L"CANCELBTN"), L"Close");
  EXPECT_FALSE(Enabled(wnd, L"UPDATEBTN"));
  wnd.Close();
}

TEST_F(UpdaterWndTest, CancelStopsTheDownloadAndUpdateMayBePressedAgain) {
  Announce("1.1.0");
  auto updater = MakeUpdater();
  CAutoUpdaterWnd wnd(*updater, "1.0.0", L"en");
  Open(wnd);
  server.holdDownload = true;
  dui::ClickControl(wnd, L"UPDATEBTN");
  PumpUntil([&] { return server.downloading.load(); }, "the download to start");
  dui::ClickControl(wnd, L"CANCELBTN");
  PumpUntil([&] { return wnd.CurrentStage() == CAutoUpdaterWnd::Stage::kChecked; }, "the download to stop");
  EXPECT_EQ(wnd.StatusKey(), L"Update_Cancelled_Msg");
  EXPECT_TRUE(wnd.IsWindow()) << "Cancel during a download stops it; the window stays";
  EXPECT_EQ(computer.installs.load(), 0);
  EXPECT_TRUE(Enabled(wnd, L"UPDATEBTN"));
  wnd.Close();
}

}  // namespace
}  // namespace orlin::update
