// `orlin-cli login` killed with SIGKILL at random moments (its engine ends
// with it), against the Tarn server stand-in: after every kill the engine's
// config.xml still parses, every state file that exists reads whole, and a
// left-over temporary file of a write is readable by its owner only; the
// next start-up removes those left-overs, and a login left alone works.
//
// ORLIN_FAULTS_LOGIN_KILLS sets the number of kills (default 25, about a
// minute; a hundred take about three), ORLIN_FAULTS_SEED repeats a run.

#include <gtest/gtest.h>

#include <iostream>
#include <mutex>
#include <random>

#include "app/store/state_files.h"
#include "common/message_presenter.h"
#include "common/text.h"
#include "engine/config_file.h"
#include "tests/faults/cli_process.h"
#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin::faults {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kServerPort = 8443;
constexpr const char* kUser = "anna";
constexpr const char* kPassword = "river-stone";

class RecordingPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& key, bool) override {
    std::lock_guard lock(mutex_);
    shown.push_back(WideToUtf8(key));
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool) override {
    std::lock_guard lock(mutex_);
    shown.push_back("Login_Failed_msg " + WideToUtf8(detail));
  }
  std::vector<std::string> shown;

 private:
  std::mutex mutex_;
};

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
}

// What must hold on disk whenever a login was cut off; "" when it does.
std::string CheckFilesWhole(const InstallLayout& layout, const fs::path& syncFolder) {
  std::string problems;
  const ConfigFileState config = InspectConfigFile(layout.EngineConfig());
  if (config != ConfigFileState::kReadable && config != ConfigFileState::kMissing) {
    problems += "config.xml does not parse; ";
  }
  RecordingPresenter presenter;
  StateFiles files(layout, presenter);
  files.ReadUserEntry(Utf8ToWide(kUser));
  files.ReadLanguage();
  files.ReadDpi(96);
  if (files.MarkerExists() && !files.ReadMarker()) problems += "the login marker does not read; ";
  if (fs::exists(layout.AccountArchive()) && files.ReadAccountArchive().userName != Utf8ToWide(kUser)) {
    problems += "the account archive does not read; ";
  }
  if (fs::exists(layout.ServerCertificate()) && files.ReadServerFingerprint().empty()) {
    problems += "the server fingerprint does not read; ";
  }
  for (const std::string& key : presenter.shown) problems += "reading the state files showed " + key + "; ";
  for (const fs::path& dir : {layout.installDir, syncFolder}) {
    for (const auto& [path, mode] : OrlinTemporaryFiles(dir)) {
      if ((mode & 077) != 0) problems += path.string() + " is readable by others; ";
    }
  }
  return problems;
}

TEST(LoginKills, AKilledLoginLeavesEveryFileWhole) {
  ORLIN_REQUIRE_PRIVATE_NETWORK();
  const std::string reason = testsupport::EngineUnavailableReason();
  if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
  if (std::system("unshare -p -f --mount-proc --kill-child true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs process namespaces (root)";
  }
  const unsigned kills = EnvNumber("ORLIN_FAULTS_LOGIN_KILLS", 25);
  const unsigned seed = EnvNumber("ORLIN_FAULTS_SEED", std::random_device{}());
  std::cout << "login kills: " << kills << ", ORLIN_FAULTS_SEED=" << seed << "\n";
  std::mt19937 random(seed);

  testsupport::ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  testsupport::TarnServer server(install.root() / "nas", kServerPort, std::string(kUser) + ":" + kPassword);
  ASSERT_EQ(server.deviceId().size(), 63u) << "the stand-in did not become ready";
  const fs::path syncFolder = install.root() / "Tarn";
  const auto login = [&] {
    return std::make_unique<CliProcess>(
        ORLIN_CLI_PATH, install.root(), install.installDir(),
        std::vector<std::string>{"login", "--server", "https://127.0.0.1:" + std::to_string(kServerPort), "--user",
                                 kUser, "--folder", syncFolder.string()},
        CliProcess::Options{.input = std::string(kPassword) + "\n"});
  };
  const auto logoff = [&] {
    CliProcess run(ORLIN_CLI_PATH, install.root(), install.installDir(), {"logoff"}, {});
    return run.Wait(120s);
  };

  // A login left alone tells how long one takes here: the kills fall
  // anywhere from its first moment to just past its end.
  auto whole = login();
  ASSERT_EQ(whole->Wait(240s), 0) << whole->Err();
  const double span = std::chrono::duration<double>(whole->Took()).count();
  std::cout << "a whole login took " << span << " s\n";

  std::uniform_real_distribution<double> when(0.0, span * 1.1);
  for (unsigned trial = 0; trial < kills; ++trial) {
    // Every third login starts from a logged-off install: the engine then
    // writes a first configuration, and the login edits a fresh one.
    if (trial % 3 == 0) {
      ASSERT_EQ(logoff(), 0) << "trial " << trial;
    }
    const double after = when(random);
    auto run = login();
    const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                   std::chrono::duration<double>(after));
    while (SteadyClock::now() < deadline && run->Running()) std::this_thread::sleep_for(5ms);
    const bool cut = run->Running();
    run->Kill();
    run->Wait(60s);
    const std::string problems = CheckFilesWhole(install.layout(), syncFolder);
    EXPECT_EQ(problems, "") << "trial " << trial << ": killed " << after << " s into the login"
                            << (cut ? "" : " (it had ended)");
  }

  // Left alone, a login works after all that, and its start-up took away
  // whatever temporary files the kills left.
  auto last = login();
  EXPECT_EQ(last->Wait(240s), 0) << last->Err();
  EXPECT_EQ(CheckFilesWhole(install.layout(), syncFolder), "");
  for (const fs::path& dir : {install.installDir(), syncFolder}) {
    for (const auto& [path, mode] : OrlinTemporaryFiles(dir)) ADD_FAILURE() << "left behind: " << path;
  }
}

}  // namespace
}  // namespace orlin::faults
