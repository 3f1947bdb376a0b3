// The updater against the Tarn server stand-in, in a private network: the
// manifest and the package travel over real HTTPS pinned to the stand-in's
// certificate, the package is checked on disk, and the installer Orlin.ini
// names runs with it. The process table is a fake that sees no Orlin, so
// nothing of other tests running beside this one is ended.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "account/tarn_transport.h"
#include "app/store/state_files.h"
#include "common/sha256.h"
#include "common/text.h"
#include "platform/http_client.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"
#include "tests/support/temp_dir.h"
#include "tools/auto-updater/system_update.h"
#include "tools/auto-updater/updater.h"

namespace orlin::update {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 8443;
const std::string kServer = "127.0.0.1:" + std::to_string(kPort);

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Write(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

class NoPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring&, bool) override { return kModalCancel; }
  void ShowLoginFailure(const std::wstring&, bool) override {}
};

// Sees no process at all: the updater's force round finds nothing to end.
struct QuietTable final : platform::ProcessTable {
  std::optional<std::vector<platform::ProcessEntry>> Scan() override { return std::vector<platform::ProcessEntry>{}; }
  std::optional<platform::ProcessId> StartHidden(const std::wstring&) override { return std::nullopt; }
  bool Terminate(platform::ProcessId, std::uint32_t) override { return false; }
};

class UpdaterE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    fs::create_directories(updates);
    server = std::make_unique<testsupport::TarnServer>(dir.path() / "tarn", kPort, "anna:secret",
                                                       std::vector<std::string>{"--updates", updates.string()});
    ASSERT_FALSE(server->deviceId().empty()) << "the Tarn server stand-in did not start";

    // The certificate the login would have kept.
    platform::CHttpClient client(platform::kHttpUserAgent);
    std::wstring ignored;
    client.Download(Utf8ToWide("https://" + kServer + "/apps/orlin/update.json"), [](std::string_view) { return true; },
                    ignored);
    fingerprint = CertificateFingerprint(client.LastExchange().serverCertificate);
    ASSERT_EQ(fingerprint.size(), 64u) << "the stand-in showed no certificate";

    fs::create_directories(layout.EngineHome());
    Write(layout.Marker(), "AAAA\r\nBBBB\r\nCCCC");
    StateFiles files(layout, presenter);
    ASSERT_TRUE(files.WriteAccountArchive({L"anna", Utf8ToWide(kServer)}));
    ASSERT_TRUE(files.WriteServerFingerprint(fingerprint));
    // The installer of this install: copies the package where the test looks.
    Write(install / "Orlin.ini", "[product]\noutname=Orlin\n[update]\ninstaller=/bin/cp {package} \"" +
                                     installed.string() + "\"\n");
    // Orlin as the updater starts it again: says it was started.
    Write(install / "orlin", "#!/bin/sh\necho started > \"" + started.string() + "\"\n");
    fs::permissions(install / "orlin", fs::perms::owner_all);

    package = std::string(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>((i * 2654435761u) >> 13);
  }

  void Publish(const std::string& version, const std::string& sha256, const std::string& served) {
    Write(updates / "orlin_1.1.0.deb", served);
    Write(updates / "update.json", R"({"version": ")" + version + R"(", "packages": {")" + PackageKind() +
                                       R"(": {"url": "/apps/orlin/updates/orlin_1.1.0.deb", "sha256": ")" + sha256 +
                                       R"(", "size": )" + std::to_string(package.size()) + "}}}");
  }

  std::unique_ptr<Updater> MakeUpdater() {
    SystemUpdateOptions systemOptions;
    systemOptions.installDir = install;
    systemOptions.programDir = install;
    systemOptions.exitGrace = 1s;
    system = std::make_unique<SystemUpdateActions>(systemOptions, table);
    UpdaterOptions options;
    options.layout = layout;
    options.currentVersion = "1.0.0";
    options.downloadDir = install / "update";
    return std::make_unique<Updater>(options, http, *system);
  }

  // The started Orlin writes its note detached from the updater.
  bool OrlinWasStarted() {
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!fs::exists(started)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }

  testsupport::TempDir dir;
  fs::path install = dir.path();
  fs::path updates = dir.path() / "served";
  fs::path installed = dir.path() / "installed.deb";
  fs::path started = dir.path() / "orlin-started";
  InstallLayout layout{install};
  NoPresenter presenter;
  std::unique_ptr<testsupport::TarnServer> server;
  std::string fingerprint;
  std::string package;
  HttpUpdateServer http;
  QuietTable table;
  std::unique_ptr<SystemUpdateActions> system;
};

TEST_F(UpdaterE2eTest, NoManifestThenUpToDateWhenTheVersionsMatch) {
  auto updater = MakeUpdater();
  EXPECT_EQ(updater->Check().messageKey, L"Update_NoManifest_Msg");
  Publish("1.0.0", Sha256Hex(package), package);
  const CheckResult result = updater->Check();
  EXPECT_TRUE(result.ok) << result.detail;
  EXPECT_EQ(result.messageKey, L"Update_UpToDate_Msg");
  EXPECT_EQ(result.newestVersion, "1.0.0");
}

TEST_F(UpdaterE2eTest, ANewerVersionIsDownloadedVerifiedInstalledAndOrlinStartedAgain) {
  Publish("1.1.0", Sha256Hex(package), package);
  auto updater = MakeUpdater();
  const CheckResult check = updater->Check();
  ASSERT_EQ(check.messageKey, L"Update_Available_Msg") << check.detail;
  std::uint64_t last = 0;
  const DownloadResult download = updater->Download([&](std::uint64_t done, std::uint64_t) { last = done; });
  ASSERT_TRUE(download.ok) << download.detail;
  EXPECT_EQ(last, package.size());
  const InstallResult install = updater->Install(download.package);
  EXPECT_EQ(install.messageKey, L"Update_Done_Msg");
  EXPECT_EQ(Read(installed), package) << "the installer got the package as published";
  EXPECT_TRUE(OrlinWasStarted()) << "waited 120 s for the started Orlin's note";
}

TEST_F(UpdaterE2eTest, ATamperedPackageIsRefusedWithNothingInstalled) {
  std::string tampered = package;
  tampered[tampered.size() / 2] ^= 0x40;
  Publish("1.1.0", Sha256Hex(package), tampered);
  auto updater = MakeUpdater();
  ASSERT_EQ(updater->Check().messageKey, L"Update_Available_Msg");
  const DownloadResult download = updater->Download(nullptr);
  EXPECT_FALSE(download.ok);
  EXPECT_EQ(download.messageKey, L"Update_WrongDigest_Msg");
  EXPECT_TRUE(fs::is_empty(install / "update")) << "the refused package is deleted";
  EXPECT_FALSE(fs::exists(installed));
  EXPECT_FALSE(fs::exists(started));
}

TEST_F(UpdaterE2eTest, AServerShowingAnotherCertificateIsNotAsked) {
  Publish("1.1.0", Sha256Hex(package), package);
  StateFiles files(layout, presenter);
  ASSERT_TRUE(files.WriteServerFingerprint(std::string(64, '0')));
  auto updater = MakeUpdater();
  const CheckResult result = updater->Check();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.messageKey, L"ServerCert_Changed_Msg");
}

}  // namespace
}  // namespace orlin::update
