// The controller end to end: a real engine in a scratch install, the Tarn
// server stand-in with its own real engine playing the NAS, all inside this
// test process's private network namespace.

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "account/tarn_transport.h"
#include "app/controller/engine_controller.h"
#include "common/message_presenter.h"
#include "common/text.h"
#include "platform/http_client.h"
#include "tests/support/engine_harness.h"
#include "tests/support/http_test_server.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testsupport::InstallProcessTable;
using testsupport::ScratchInstall;

constexpr std::uint16_t kServerPort = 8443;

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& key, bool) override {
    std::lock_guard lock(mutex_);
    keys_.push_back(key);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool) override {
    std::lock_guard lock(mutex_);
    keys_.push_back(L"Login_Failed_msg");
    details_.push_back(detail);
  }
  std::vector<std::wstring> Keys() const {
    std::lock_guard lock(mutex_);
    return keys_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    keys_.clear();
    details_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> keys_;
  std::vector<std::wstring> details_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

bool WaitForFile(const fs::path& path, const std::string& content, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (fs::exists(path) && ReadFile(path) == content) return true;
    std::this_thread::sleep_for(200ms);
  }
  return false;
}

class ControllerEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    install_ = std::make_unique<ScratchInstall>();
    ASSERT_EQ(install_->error(), "");
    table_ = std::make_unique<InstallProcessTable>(*install_);
    controller_ = std::make_unique<EngineController>(install_->layout(), *table_, presenter_, clock_);
    controller_->Start();
    ASSERT_TRUE(controller_->WaitReady(60s)) << "the start-up sequence did not finish";
  }
  void TearDown() override {
    if (controller_) controller_->Shutdown();
  }

  LoginRequest Request(const std::string& server, const std::string& password) const {
    LoginRequest request;
    request.server = Utf8ToWide(server);
    request.userName = L"anna";
    request.password = Utf8ToWide(password);
    request.syncFolder = (install_->home() / "Tarn").wstring();
    fs::create_directories(install_->home() / "Tarn");
    return request;
  }

  const InstallLayout& layout() const { return install_->layout(); }

  RecordingPresenter presenter_;
  SystemClock clock_;
  std::unique_ptr<ScratchInstall> install_;
  std::unique_ptr<InstallProcessTable> table_;
  std::unique_ptr<EngineController> controller_;
};

TEST_F(ControllerEndToEnd, StartUpReadsWhatTheFreshEngineWrote) {
  EXPECT_TRUE(controller_->LoginNeeded());
  EXPECT_EQ(controller_->Account().deviceId.size(), 63u);
  EXPECT_FALSE(controller_->ApiKey().empty());
  // Until a login, the engine pulls the smallest files first.
  EXPECT_NE(ReadFile(layout().EngineConfig()).find("<order>smallestFirst</order>"), std::string::npos);
  EXPECT_EQ(controller_->Settings().pullOrder, kPullSmallestFirst);
  // The run log is named from the local time, without leading zeros.
  EXPECT_TRUE(fs::exists(controller_->logFilePath()));
  EXPECT_EQ(controller_->logFilePath().parent_path(), layout().installDir / "log");
  EXPECT_TRUE(presenter_.Keys().empty());
}

TEST_F(ControllerEndToEnd, RefusedLoginsWriteNothing) {
  testsupport::TarnServer server(install_->root() / "nas", kServerPort, "anna:secret");
  ASSERT_EQ(server.deviceId().size(), 63u) << "the stand-in did not come up";
  const std::string configBefore = ReadFile(layout().EngineConfig());
  const std::string userConfigBefore = ReadFile(layout().UserConfig());

  testsupport::HttpTestServer garbage;
  garbage.Route("/apps/orlin/register.php?", testsupport::ScriptedAnswer::Respond(200, "<html>hello</html>"));
  testsupport::HttpTestServer shortId;
  shortId.Route("/apps/orlin/register.php?",
                testsupport::ScriptedAnswer::Respond(200, server.deviceId().substr(0, 62) + "\r\n"));
  testsupport::HttpTestServer broken;
  broken.Route("/apps/orlin/register.php?", testsupport::ScriptedAnswer::Respond(500, server.deviceId()));

  struct Refusal {
    std::string what;
    LoginRequest request;
    LoginFailure failure;
  };
  const std::vector<Refusal> refusals = {
      {"wrong password", Request("https://127.0.0.1:8443", "wrong"), LoginFailure::kRefused},
      {"unreachable server", Request("https://127.0.0.1:1", "secret"), LoginFailure::kTransport},
      {"not a device ID", Request(garbage.BaseUrl(), "secret"), LoginFailure::kRefused},
      {"a device ID one short", Request(shortId.BaseUrl(), "secret"), LoginFailure::kRefused},
      {"server error", Request(broken.BaseUrl(), "secret"), LoginFailure::kTransport},
  };
  for (const auto& [what, request, failure] : refusals) {
    SCOPED_TRACE(what);
    presenter_.Clear();
    HttpTarnTransport transport(platform::kHttpUserAgent);
    const LoginOutcome outcome = controller_->Login(request, transport);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.failure, failure);
    const auto keys = presenter_.Keys();
    ASSERT_EQ(keys.size(), 1u) << "a refusal is shown once";
    EXPECT_EQ(keys[0], LoginFailureRuleFor(failure).messageKey);
    EXPECT_FALSE(fs::exists(layout().Marker()));
    EXPECT_FALSE(fs::exists(layout().AccountArchive()));
    EXPECT_EQ(ReadFile(layout().EngineConfig()), configBefore);
    EXPECT_EQ(ReadFile(layout().UserConfig()), userConfigBefore);
    EXPECT_TRUE(controller_->LoginNeeded());
  }
}

TEST_F(ControllerEndToEnd, LoginSyncsBothWaysAndLogOffLeavesNothing) {
  testsupport::TarnServer server(install_->root() / "nas", kServerPort, "anna:secret");
  ASSERT_EQ(server.deviceId().size(), 63u) << "the stand-in did not come up";

  HttpTarnTransport transport(platform::kHttpUserAgent);
  LoginOutcome outcome = controller_->Login(Request("https://127.0.0.1:8443", "secret"), transport);
  ASSERT_EQ(outcome.result, 1) << "keys shown: " << presenter_.Keys().size();
  EXPECT_EQ(outcome.serverDeviceId, server.deviceId());
  EXPECT_FALSE(controller_->LoginNeeded());
  EXPECT_TRUE(fs::exists(layout().AccountArchive()));
  EXPECT_NE(ReadFile(layout().UserConfig()).find("anna"), std::string::npos);
  const std::string config = ReadFile(layout().EngineConfig());
  EXPECT_EQ(CountOf(config, "<device id=\"" + server.deviceId() + "\""), 2u)  // the folder's sharer and the device
      << config;
  EXPECT_NE(config.find("id=\"anna" + server.deviceId() + "\""), std::string::npos);

  // Logging in again adds nothing.
  outcome = controller_->Login(Request("https://127.0.0.1:8443", "secret"), transport);
  ASSERT_EQ(outcome.result, 1);
  EXPECT_EQ(CountOf(ReadFile(layout().EngineConfig()), "<device id=\"" + server.deviceId() + "\""), 2u);

  // Files travel both ways.
  const fs::path local = install_->home() / "Tarn";
  const fs::path nas = install_->root() / "nas" / "folders" / "anna";
  ASSERT_TRUE(fs::is_directory(nas));
  std::ofstream(nas / "from-nas.txt") << "written on the NAS";
  std::ofstream(local / "from-pc.txt") << "written on the PC";
  // Two real engines on a loaded two-core machine (the sanitizer build runs
  // beside other tests): the deadline is generous, the usual time is seconds.
  EXPECT_TRUE(WaitForFile(local / "from-nas.txt", "written on the NAS", 180s))
      << "waited 180 s for the NAS file to reach this computer's folder";
  EXPECT_TRUE(WaitForFile(nas / "from-pc.txt", "written on the PC", 180s))
      << "waited 180 s for this computer's file to reach the NAS";

  // The poller learns the folder from the engine and follows its state.
  ASSERT_TRUE(controller_->StartSync());
  const std::string folderId = ReadFolderIdentifier(layout().EngineConfig());
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline &&
         (controller_->Status().folder.FolderId().empty() || controller_->Status().folder.FolderStateText().empty())) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(controller_->Status().folder.FolderId(), folderId);
  EXPECT_FALSE(controller_->Status().folder.FolderStateText().empty());

  // Log-off, twice: no engine, no engine home, and a fresh start works.
  EXPECT_TRUE(controller_->LogOff());
  EXPECT_TRUE(controller_->LogOff());
  EXPECT_TRUE(controller_->LoggedOff());
  EXPECT_FALSE(fs::exists(layout().EngineHome()));
  EXPECT_TRUE(install_->EngineProcesses().empty());
  // The user's files stay.
  EXPECT_TRUE(fs::exists(local / "from-nas.txt"));

  EngineController again(layout(), *table_, presenter_, clock_);
  again.Start();
  ASSERT_TRUE(again.WaitReady(60s));
  EXPECT_TRUE(again.LoginNeeded());
  EXPECT_EQ(again.Login(Request("https://127.0.0.1:8443", "secret"), transport).result, 1);
  again.Shutdown();
}

}  // namespace
}  // namespace orlin
