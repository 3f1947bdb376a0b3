// Broken files and an install folder that cannot be written, end to end with
// the built orlin-cli, its real engine and the Tarn server stand-in: every
// command names the real cause within seconds (not "does not exist" after
// minutes), the damaged file is left as it is, and a log-off followed by a
// new login brings a working account back.

#include <gtest/gtest.h>

#include <iostream>

#include "common/text.h"
#include "engine/config_file.h"
#include "tests/faults/cli_process.h"
#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"
#include "ui/dialogs/message_table.h"

namespace orlin::faults {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kServerPort = 8443;
constexpr const char* kUser = "anna";
constexpr const char* kPassword = "river-stone";

std::string Message(const wchar_t* key) { return WideToUtf8(*MessageText(key, L"en", {})); }

class BrokenInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    if (std::system("unshare -p -f --mount-proc --kill-child true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs process namespaces (root)";
    }
    install_ = std::make_unique<testsupport::ScratchInstall>();
    ASSERT_EQ(install_->error(), "");
    server_ = std::make_unique<testsupport::TarnServer>(install_->root() / "nas", kServerPort,
                                                        std::string(kUser) + ":" + kPassword);
    ASSERT_EQ(server_->deviceId().size(), 63u) << "the stand-in did not become ready";
  }
  void TearDown() override {
    server_.reset();
    install_.reset();
  }

  struct Ran {
    std::optional<int> code;
    double seconds = 0;
    std::string out;
    std::string err;
  };
  Ran Cli(const std::vector<std::string>& words, CliProcess::Options options = {}) const {
    CliProcess run(ORLIN_CLI_PATH, install_->root(), install_->installDir(), words, std::move(options));
    Ran ran;
    ran.code = run.Wait(240s);
    ran.seconds = std::chrono::duration<double>(run.Took()).count();
    ran.out = run.Out();
    ran.err = run.Err();
    return ran;
  }
  Ran Login(CliProcess::Options options = {}) const {
    options.input = std::string(kPassword) + "\n";
    return Cli({"login", "--server", "https://127.0.0.1:" + std::to_string(kServerPort), "--user", kUser, "--folder",
                (install_->root() / "Tarn").string()},
               std::move(options));
  }

  std::unique_ptr<testsupport::ScratchInstall> install_;
  std::unique_ptr<testsupport::TarnServer> server_;
};

// config.xml cut short, then binary junk: the status and the log-off say
// at once that the file is damaged, the status fails rather than showing a
// state, the file stays as it was until the log-off removes the engine's
// files, and the next login works.
TEST_F(BrokenInstall, ADamagedConfigurationIsNamedAndALogOffClearsTheWay) {
  const fs::path config = install_->layout().EngineConfig();
  const std::string damagedText = Message(L"SyncConfig_Damaged_Msg");
  const std::string missingText = Message(L"SyncConfig_Failed_Msg");
  const std::string junk("\x7f" "ELF\x02\x01\x01\0\0\0junk", 14);
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant == 0 ? "cut short" : "junk");
    const Ran login = Login();
    ASSERT_EQ(login.code, 0) << login.err;
    const std::string whole = ReadText(config);
    const std::string damaged = variant == 0 ? whole.substr(0, whole.size() / 2) : junk;
    std::ofstream(config, std::ios::binary | std::ios::trunc) << damaged;

    const Ran status = Cli({"status", "--for", "3"});
    std::cout << "damaged config.xml: status ended after " << status.seconds << " s\n";
    EXPECT_EQ(status.code, 1) << status.err;
    EXPECT_NE(status.err.find(damagedText), std::string::npos) << status.err;
    EXPECT_EQ(status.err.find(missingText), std::string::npos) << status.err;
    EXPECT_NE(status.out.find("the engine does not answer"), std::string::npos) << status.out;
    EXPECT_LT(status.seconds, 40.0);
    EXPECT_EQ(ReadText(config), damaged) << "the damaged file was written over";

    const Ran logoff = Cli({"logoff"});
    std::cout << "damaged config.xml: log-off ended after " << logoff.seconds << " s\n";
    EXPECT_EQ(logoff.code, 0) << logoff.err;
    EXPECT_NE(logoff.err.find(damagedText), std::string::npos) << logoff.err;
    EXPECT_LT(logoff.seconds, 40.0);
    EXPECT_FALSE(fs::exists(install_->layout().EngineHome()));
  }
  const Ran again = Login();
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_TRUE(fs::exists(install_->layout().Marker()));
  EXPECT_EQ(InspectConfigFile(config), ConfigFileState::kReadable);
}

// An install folder the user may not write to: the login says so at once,
// writes nothing and fails; the log-off has nothing to remove and ends at
// once; once the folder can be written, a login works.
TEST_F(BrokenInstall, AnInstallFolderThatCannotBeWrittenIsNamedAtOnce) {
  const Ran readOnly = Login({.input = "", .readOnlyInstall = true});
  std::cout << "read-only install: login ended after " << readOnly.seconds << " s\n";
  EXPECT_EQ(readOnly.code, 1) << readOnly.err;
  EXPECT_NE(readOnly.err.find(Message(L"Install_ReadOnly_Msg")), std::string::npos) << readOnly.err;
  EXPECT_LT(readOnly.seconds, 40.0);
  EXPECT_FALSE(fs::exists(install_->layout().EngineHome()));
  EXPECT_FALSE(fs::exists(install_->layout().Marker()));

  const Ran logoff = Cli({"logoff"}, {.input = "", .readOnlyInstall = true});
  EXPECT_LT(logoff.seconds, 40.0);
  EXPECT_EQ(logoff.code, 0) << logoff.err;

  const Ran login = Login();
  EXPECT_EQ(login.code, 0) << login.err;
  EXPECT_TRUE(fs::exists(install_->layout().Marker()));
}

}  // namespace
}  // namespace orlin::faults
