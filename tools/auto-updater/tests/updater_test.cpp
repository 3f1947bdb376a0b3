#include "tools/auto-updater/updater.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/store/state_files.h"
#include "common/sha256.h"
#include "tests/support/temp_dir.h"

namespace orlin::update {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

constexpr char kFingerprint[] = "0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f";
constexpr char kServer[] = "nas.example:8443";

class NoPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring&, bool) override { return kModalCancel; }
  void ShowLoginFailure(const std::wstring&, bool) override {}
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The Tarn server: a manifest and a package, served in pieces, or a failure.
struct FakeServer final : UpdateServer {
  ServerAnswer::Outcome outcome = ServerAnswer::Outcome::kAnswered;
  int manifestStatus = 200;
  std::string manifest;
  std::string package;
  std::size_t piece = 1000;
  std::function<void(std::size_t sent)> afterPiece;
  std::vector<std::string> asked;  // urls, with the fingerprint they named
  int downloads = 0;

  ServerAnswer Fetch(const std::string& url, const std::string& fingerprint) override {
    asked.push_back(url + " " + fingerprint);
    ServerAnswer answer;
    answer.outcome = outcome;
    answer.status = manifestStatus;
    answer.body = manifest;
    return answer;
  }
  ServerAnswer Download(const std::string& url, const std::string& fingerprint,
                        const std::function<bool(std::string_view)>& sink) override {
    asked.push_back(url + " " + fingerprint);
    ++downloads;
    ServerAnswer answer;
    answer.outcome = ServerAnswer::Outcome::kAnswered;
    answer.status = 200;
    for (std::size_t at = 0; at < package.size(); at += piece) {
      if (!sink(std::string_view(package).substr(at, piece))) {
        answer.outcome = ServerAnswer::Outcome::kStopped;
        return answer;
      }
      if (afterPiece) afterPiece(at + piece);
    }
    return answer;
  }
};

struct FakeSystem final : UpdateSystem {
  bool orlinEnds = true;
  bool installerWorks = true;
  bool orlinStarts = true;
  std::vector<std::string> steps;
  std::string installed;  // what the installer was given

  bool EndOrlin() override {
    steps.push_back("end");
    return orlinEnds;
  }
  bool RunInstaller(const fs::path& package) override {
    steps.push_back("install");
    installed = Read(package);
    return installerWorks;
  }
  bool StartOrlin() override {
    steps.push_back("start");
    return orlinStarts;
  }
};

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(layout.EngineHome());
    std::ofstream(layout.Marker()) << "AAAA\r\nBBBB\r\nCCCC";
    StateFiles files(layout, presenter);
    ASSERT_TRUE(files.WriteAccountArchive({L"anna", Utf8Server()}));
    ASSERT_TRUE(files.WriteServerFingerprint(kFingerprint));
    package = std::string(10'000, 'p');
    for (std::size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>(i * 31);
    server.package = package;
    SetManifest("1.1.0", Sha256Hex(package), package.size());
  }

  static std::wstring Utf8Server() { return L"nas.example:8443"; }

  void SetManifest(const std::string& version, const std::string& sha, std::size_t size) {
    server.manifest = R"({"version": ")" + version + R"(", "packages": {")" + PackageKind() +
                      R"(": {"url": "/apps/orlin/updates/orlin_1.1.0.deb", "sha256": ")" + sha +
                      R"(", "size": )" + std::to_string(size) + "}}}";
  }

  Updater MakeUpdater() {
    UpdaterOptions options;
    options.layout = layout;
    options.currentVersion = "1.0.0";
    options.downloadDir = dir.path() / "update";
    return Updater(options, server, system);
  }

  bool DownloadsLeftSomething() const {
    std::error_code ec;
    return fs::exists(dir.path() / "update", ec) && !fs::is_empty(dir.path() / "update", ec);
  }

  TempDir dir;
  InstallLayout layout{dir.path()};
  NoPresenter presenter;
  FakeServer server;
  FakeSystem system;
  std::string package;
};

TEST_F(UpdaterTest, WithoutAnAccountOrItsCertificateNothingIsAsked) {
  {
    StateFiles files(layout, presenter);
    ASSERT_TRUE(files.WriteServerFingerprint(""));
    Updater updater = MakeUpdater();
    EXPECT_EQ(updater.Check().messageKey, L"Update_NotSignedIn_Msg");
  }
  fs::remove(layout.Marker());
  Updater updater = MakeUpdater();
  const CheckResult result = updater.Check();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.messageKey, L"Update_NotSignedIn_Msg");
  EXPECT_TRUE(server.asked.empty());
}

TEST_F(UpdaterTest, AsksTheSignedInServerPinnedToTheLoginsCertificate) {
  Updater updater = MakeUpdater();
  const CheckResult result = updater.Check();
  ASSERT_TRUE(result.ok) << result.detail;
  EXPECT_EQ(result.check, UpdateCheck::kNewer);
  EXPECT_EQ(result.newestVersion, "1.1.0");
  EXPECT_EQ(result.messageKey, L"Update_Available_Msg");
  ASSERT_EQ(server.asked.size(), 1u);
  EXPECT_EQ(server.asked[0], std::string("https://") + kServer + "/apps/orlin/update.json " + kFingerprint);
}

TEST_F(UpdaterTest, EachWayTheCheckFailsHasItsMessageAndChangesNothing) {
  struct Case {
    ServerAnswer::Outcome outcome;
    int status;
    std::string manifest;
    std::wstring key;
  } cases[] = {
      {ServerAnswer::Outcome::kUnreachable, 0, "", L"Update_Unreachable_Msg"},
      {ServerAnswer::Outcome::kCertificateChanged, 0, "", L"ServerCert_Changed_Msg"},
      {ServerAnswer::Outcome::kAnswered, 404, "not found", L"Update_NoManifest_Msg"},
      {ServerAnswer::Outcome::kAnswered, 200, "{broken", L"Update_BadManifest_Msg"},
      {ServerAnswer::Outcome::kAnswered, 200, R"({"version": "1.0.0"})", L"Update_UpToDate_Msg"},
      {ServerAnswer::Outcome::kAnswered, 200, R"({"version": "0.9"})", L"Update_UpToDate_Msg"},
      {ServerAnswer::Outcome::kAnswered, 200, R"({"version": "2.0", "packages": {"other-os": {"url": "/x", "sha256": ")" +
                                                  std::string(64, '0') + R"(", "size": 3}}})",
       L"Update_NoPackage_Msg"},
  };
  for (const Case& c : cases) {
    server.outcome = c.outcome;
    server.manifestStatus = c.status;
    server.manifest = c.manifest;
    Updater updater = MakeUpdater();
    const CheckResult result = updater.Check();
    EXPECT_EQ(result.messageKey, c.key) << c.manifest;
    EXPECT_NE(result.check, UpdateCheck::kNewer);
    EXPECT_FALSE(updater.Download(nullptr).ok) << "no download without a newer version";
  }
  EXPECT_EQ(server.downloads, 0);
  EXPECT_TRUE(system.steps.empty());
}

TEST_F(UpdaterTest, ANewerVersionIsDownloadedCheckedAndInstalledBetweenOrlinsEndAndItsStart) {
  Updater updater = MakeUpdater();
  ASSERT_TRUE(updater.Check().ok);
  std::vector<std::uint64_t> progress;
  const DownloadResult download = updater.Download([&](std::uint64_t done, std::uint64_t total) {
    EXPECT_EQ(total, package.size());
    progress.push_back(done);
  });
  ASSERT_TRUE(download.ok) << download.detail;
  EXPECT_EQ(download.package, dir.path() / "update" / "orlin_1.1.0.deb");
  EXPECT_EQ(Read(download.package), package);
  ASSERT_EQ(progress.size(), 10u);
  EXPECT_EQ(progress.back(), package.size());
  EXPECT_EQ(server.asked.back(), std::string("https://") + kServer + "/apps/orlin/updates/orlin_1.1.0.deb " + kFingerprint);
  EXPECT_TRUE(system.steps.empty()) << "nothing runs before the install";
#ifndef _WIN32
  // Windows keeps no such modes; the install directory there is the user's.
  EXPECT_EQ(fs::status(dir.path() / "update").permissions() & fs::perms::all, fs::perms::owner_all);
#endif

  const InstallResult install = updater.Install(download.package);
  EXPECT_TRUE(install.ok);
  EXPECT_TRUE(install.orlinStarted);
  EXPECT_EQ(install.messageKey, L"Update_Done_Msg");
  EXPECT_EQ(system.steps, (std::vector<std::string>{"end", "install", "start"}));
  EXPECT_EQ(system.installed, package);
}

TEST_F(UpdaterTest, APackageOtherThanAnnouncedIsDeletedAndNeverRuns) {
  struct Case {
    std::string served;
    std::string why;
  } cases[] = {
      {std::string(package).replace(5000, 1, "X"), "one byte changed"},
      {package.substr(0, 9000), "cut short"},
      {package + "extra", "longer than announced"},
  };
  for (const Case& c : cases) {
    server.package = c.served;
    Updater updater = MakeUpdater();
    ASSERT_TRUE(updater.Check().ok);
    const DownloadResult download = updater.Download(nullptr);
    EXPECT_FALSE(download.ok) << c.why;
    EXPECT_EQ(download.messageKey, L"Update_WrongDigest_Msg") << c.why;
    EXPECT_FALSE(DownloadsLeftSomething()) << c.why;
  }
  EXPECT_TRUE(system.steps.empty());
}

TEST_F(UpdaterTest, ACancelledDownloadKeepsNothingAndMayBeTriedAgain) {
  Updater updater = MakeUpdater();
  ASSERT_TRUE(updater.Check().ok);
  server.afterPiece = [&](std::size_t sent) {
    if (sent == 3000) updater.Cancel();
  };
  const DownloadResult cancelled = updater.Download(nullptr);
  EXPECT_FALSE(cancelled.ok);
  EXPECT_EQ(cancelled.messageKey, L"Update_Cancelled_Msg");
  EXPECT_FALSE(DownloadsLeftSomething());
  EXPECT_TRUE(system.steps.empty());

  server.afterPiece = nullptr;
  EXPECT_TRUE(updater.Download(nullptr).ok);
}

TEST_F(UpdaterTest, AnOrlinThatWillNotEndIsNotUpdatedAndEveryOtherEndSaysWhetherOrlinIsBack) {
  Updater updater = MakeUpdater();
  ASSERT_TRUE(updater.Check().ok);
  const DownloadResult download = updater.Download(nullptr);
  ASSERT_TRUE(download.ok);

  system.orlinEnds = false;
  const InstallResult refused = updater.Install(download.package);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.messageKey, L"Update_OrlinRuns_Msg");
  EXPECT_EQ(system.steps, std::vector<std::string>{"end"});

  system.steps.clear();
  system.orlinEnds = true;
  system.installerWorks = false;
  const InstallResult failed = updater.Install(download.package);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.messageKey, L"Update_InstallFailed_Msg");
  EXPECT_EQ(system.steps, (std::vector<std::string>{"end", "install", "start"}));

  // Installed, but Orlin does not come back: the user is told to start it.
  system.installerWorks = true;
  system.orlinStarts = false;
  const InstallResult notStarted = updater.Install(download.package);
  EXPECT_TRUE(notStarted.ok);
  EXPECT_FALSE(notStarted.orlinStarted);
  EXPECT_EQ(notStarted.messageKey, L"Update_DoneNotStarted_Msg");
}

}  // namespace
}  // namespace orlin::update
