// The account requests against the Tarn server stand-in
// (tools/tarn-dev-server) and its real engine, over HTTPS with a self-signed
// certificate. The CTest entry "account_tarn_server_in_private_network" runs
// this program in a private network namespace and names the server script in
// ORLIN_TARN_DEV_SERVER; without it every test is skipped.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "account/login.h"
#include "account/login_request.h"
#include "account/tarn_transport.h"
#include "account/versioning_setting.h"
#include "app/store/state_files.h"
#include "common/message_presenter.h"
#include "engine/config_file.h"
#include "platform/http_client.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

constexpr wchar_t kClientId[] = L"GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6";
constexpr wchar_t kUser[] = L"anna&bob";
constexpr wchar_t kPassword[] = L"p@ss word";
constexpr wchar_t kServer[] = L"127.0.0.1:18453";

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& key, bool) override {
    keys.push_back(key);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool) override { keys.push_back(detail); }
  std::vector<std::wstring> keys;
};

class TarnServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* script = std::getenv("ORLIN_TARN_DEV_SERVER");
    if (!script || !*script) return;
    dir_ = new testsupport::TempDir;
    const auto d = dir_->path().string();
    // The server ends with the process that started it, so a subshell that
    // waits for it stays its parent while the tests run.
    const std::string command = "( \"" + std::string(script) + "\" --state '" + d +
                                "/state' --port 18453 --user 'anna&bob:p@ss word' > '" + d + "/out' 2> '" + d +
                                "/err' & echo $! > '" + d + "/pid'; wait ) > /dev/null 2>&1 &";
    if (std::system(command.c_str()) != 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string out = ReadText(dir_->path() / "out");
      if (out.rfind("ready ", 0) == 0 && out.find('\n') != std::string::npos) {
        const std::string id = out.substr(6, out.find('\n') - 6);
        serverId_ = new std::wstring(id.begin(), id.end());
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  static void TearDownTestSuite() {
    if (dir_) {
      const std::string pid = ReadText(dir_->path() / "pid");
      if (!pid.empty()) {
        // The server stops its engine on SIGTERM; wait until it has gone.
        const std::string stop = "kill " + pid.substr(0, pid.find('\n')) + "; for i in $(seq 100); do kill -0 " +
                                 pid.substr(0, pid.find('\n')) + " 2>/dev/null || exit 0; sleep 0.1; done";
        [[maybe_unused]] const int ignored = std::system(stop.c_str());
      }
    }
    delete serverId_;
    serverId_ = nullptr;
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    if (!std::getenv("ORLIN_TARN_DEV_SERVER")) {
      GTEST_SKIP() << "runs only through CTest in a private network namespace (ORLIN_TARN_DEV_SERVER unset)";
    }
    ASSERT_NE(serverId_, nullptr) << "the server did not get ready:\n" << ReadText(dir_->path() / "err");
  }

  TarnReply Register(const std::wstring& password) {
    HttpTarnTransport transport(platform::kHttpUserAgent);
    return transport.Post(RegistrationUrl(kServer),
                          RegistrationBody({kUser, password, kClientId, L"Debian GNU/Linux 12", L"desk-1"}), "");
  }

  static testsupport::TempDir* dir_;
  static std::wstring* serverId_;
};

testsupport::TempDir* TarnServerTest::dir_ = nullptr;
std::wstring* TarnServerTest::serverId_ = nullptr;

TEST_F(TarnServerTest, LoginIsAnsweredWithTheServersDeviceId) {
  const TarnReply refused = Register(L"wrong");
  ASSERT_TRUE(refused.answered) << std::string(refused.errorText.begin(), refused.errorText.end());
  EXPECT_EQ(ParseRegistrationAnswer(refused.body).verdict, RegistrationVerdict::kRefused);

  const TarnReply reply = Register(kPassword);
  ASSERT_TRUE(reply.answered);
  EXPECT_EQ(reply.status, 200);
  const auto answer = ParseRegistrationAnswer(reply.body);
  ASSERT_EQ(answer.verdict, RegistrationVerdict::kAccepted);
  EXPECT_EQ(std::wstring(answer.serverDeviceId.begin(), answer.serverDeviceId.end()), *serverId_);
}

TEST_F(TarnServerTest, LoginRecordsTheAccountAndTheKeptVersionsAreAccepted) {
  const InstallLayout layout{dir_->path() / "install"};
  std::filesystem::create_directories(layout.EngineHome());
  std::ofstream(layout.EngineConfig())
      << "<configuration version=\"36\">\n"
         "  <folder id=\"default\" path=\"/tmp/x\" type=\"sendreceive\"><order>random</order></folder>\n"
         "  <gui enabled=\"true\"><apikey>key</apikey></gui>\n"
         "  <options><maxSendKbps>0</maxSendKbps><maxRecvKbps>0</maxRecvKbps></options>\n"
         "</configuration>\n";
  std::ofstream(layout.UserConfig()) << "<users>\n</users>\n";
  RecordingPresenter presenter;
  StateFiles files(layout, presenter);
  EngineConfigFile engineConfig(layout.EngineConfig(), presenter);
  HttpTarnTransport loginTransport(platform::kHttpUserAgent);

  LoginInput input;
  input.typedServer = kServer;
  input.userName = kUser;
  input.password = kPassword;
  input.deviceId = kClientId;
  input.osName = L"Debian GNU/Linux 12";
  input.computerName = L"desk-1";
  input.settings.syncFolderPath = (dir_->path() / "sync").wstring();
  const auto outcome = AccountLogin(files, engineConfig, loginTransport, presenter).Run(input);
  ASSERT_EQ(outcome.result, 1) << (presenter.keys.empty() ? "" : std::string(presenter.keys[0].begin(), presenter.keys[0].end()));
  EXPECT_EQ(std::wstring(outcome.serverDeviceId.begin(), outcome.serverDeviceId.end()), *serverId_);
  EXPECT_EQ(ReadFolderIdentifier(layout.EngineConfig()),
            "anna&bob" + std::string(serverId_->begin(), serverId_->end()));

  // The server's certificate is trusted from here on.
  EXPECT_EQ(files.ReadServerFingerprint().size(), 64u);

  // The kept versions go to the folder the login named, with the stored account.
  HttpTarnTransport transport(kVersioningUserAgent);
  const auto result = VersioningSetting(files, transport, presenter).Send(4);
  EXPECT_EQ(result.sends, 1);
  EXPECT_TRUE(result.accepted) << std::string(result.answer.begin(), result.answer.end());
  EXPECT_EQ(presenter.keys, std::vector<std::wstring>{L"versioning_Success_msg"});

  // An account the server does not know is refused.
  ASSERT_TRUE(files.CreateMarker({kServer, L"anna", kPassword}));
  presenter.keys.clear();
  EXPECT_FALSE(VersioningSetting(files, transport, presenter).Send(4).accepted);
  EXPECT_EQ(presenter.keys, std::vector<std::wstring>{L"versioning_Failed_msg"});
}

}  // namespace
}  // namespace orlin
