// The settings apply against real engines: this computer's engine in a
// scratch install and the Tarn server stand-in with its own engine, in this
// test process's private network namespace.

#include <gtest/gtest.h>
#include <json/json.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "account/tarn_transport.h"
#include "app/controller/engine_controller.h"
#include "common/message_presenter.h"
#include "common/text.h"
#include "platform/http_client.h"
#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint16_t kServerPort = 8443;

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& key, bool) override {
    std::lock_guard lock(mutex_);
    keys_.push_back(key);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override {
    std::lock_guard lock(mutex_);
    keys_.push_back(L"Login_Failed_msg");
  }
  std::vector<std::wstring> Keys() const {
    std::lock_guard lock(mutex_);
    return keys_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> keys_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<Json::Value> ParseJson(const std::string& text) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) return std::nullopt;
  return value;
}

// The engine's own view (GET system/config or system/status); nullopt while
// it does not answer (it restarts during the refresh).
std::optional<Json::Value> Rest(const std::string& apiKey, const char* endpoint) {
  platform::CHttpClient client(platform::kHttpUserAgent);
  client.SetConnectTimeout(2s);
  std::wstring answer;
  if (client.Get(Utf8ToWide(std::string("http://localhost:18384/rest/") + endpoint),
                 Utf8ToWide("X-API-Key: " + apiKey), answer) != platform::kHttpSuccess) {
    return std::nullopt;
  }
  return ParseJson(WideToUtf8(answer));
}

const Json::Value* Folder(const Json::Value& config, const std::string& id) {
  for (const auto& f : config["folders"]) {
    if (f["id"].asString() == id) return &f;
  }
  return nullptr;
}

class SettingsApplyEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    install_ = std::make_unique<testsupport::ScratchInstall>();
    ASSERT_EQ(install_->error(), "");
    table_ = std::make_unique<testsupport::InstallProcessTable>(*install_);
    EngineControllerOptions options;
    options.desktop.registry.storeDir = install_->root() / "registry";
    options.desktop.session.configHome = install_->root() / "session";
    controller_ = std::make_unique<EngineController>(install_->layout(), *table_, presenter_, clock_, nullptr, options);
    controller_->Start();
    ASSERT_TRUE(controller_->WaitReady(60s)) << "the start-up sequence did not finish";
  }
  void TearDown() override {
    if (controller_) controller_->Shutdown();
  }

  RecordingPresenter presenter_;
  SystemClock clock_;
  std::unique_ptr<testsupport::ScratchInstall> install_;
  std::unique_ptr<testsupport::InstallProcessTable> table_;
  std::unique_ptr<EngineController> controller_;
};

TEST_F(SettingsApplyEndToEnd, EngineValuesReachTheRunningEngineAndSurviveTheResume) {
  testsupport::TarnServer server(install_->root() / "nas", kServerPort, "anna:secret");
  ASSERT_EQ(server.deviceId().size(), 63u) << "the stand-in did not come up";
  const fs::path folder = install_->home() / "Tarn";
  fs::create_directories(folder);
  HttpTarnTransport transport(platform::kHttpUserAgent);
  LoginRequest login{L"https://127.0.0.1:8443", L"anna", L"secret", folder.wstring(), true};
  ASSERT_EQ(controller_->Login(login, transport).result, 1);
  ASSERT_TRUE(controller_->StartSync());
  const std::string folderId = ReadFolderIdentifier(install_->layout().EngineConfig());
  auto deadline = std::chrono::steady_clock::now() + 120s;
  while (std::chrono::steady_clock::now() < deadline && controller_->Status().folder.FolderId().empty()) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(controller_->Status().folder.FolderId(), folderId) << "waited 120 s for the poller to learn the folder";

  // A language change alone: lang.xml, and the engine is left alone (it is
  // not restarted, its configuration file is not rewritten).
  const std::string startedAt = (*Rest(controller_->ApiKey(), "system/status"))["startTime"].asString();
  const std::string configBefore = ReadFile(install_->layout().EngineConfig());
  SyncSettings languageOnly = controller_->ReloadSettings();
  languageOnly.language = L"en";
  EXPECT_FALSE(controller_->ApplySettings(languageOnly).engineChanged);
  EXPECT_NE(ReadFile(install_->layout().LangFile()).find(">en<"), std::string::npos);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ((*Rest(controller_->ApiKey(), "system/status"))["startTime"].asString(), startedAt);
  EXPECT_EQ(ReadFile(install_->layout().EngineConfig()), configBefore);

  SyncSettings next = controller_->ReloadSettings();
  next.receiveLimit = 123;
  next.sendLimit = 77;
  next.folderType = kFolderSendOnly;
  next.pullOrder = kPullAlphabetic;
  next.versionsKept = 4;
  const SettingsApplyReport report = controller_->ApplySettings(next);
  EXPECT_TRUE(report.engineChanged);
  EXPECT_TRUE(report.pauseConfirmed);
  EXPECT_EQ(report.livePush, LivePush::kPushed);
  EXPECT_TRUE(report.restored.empty());

  // The resume and the refresh's restart have to pass without undoing the
  // values: wait until the engine answers again with the folder resumed.
  bool settled = false;
  std::string seen;
  deadline = std::chrono::steady_clock::now() + 120s;
  while (!settled && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(500ms);
    auto config = Rest(controller_->ApiKey(), "system/config");
    if (!config) continue;
    const Json::Value* f = Folder(*config, folderId);
    if (!f) continue;
    seen = Json::FastWriter().write((*config)["options"]["maxRecvKbps"]) + " paused=" + (*f)["paused"].asString();
    settled = !(*f)["paused"].asBool() && (*config)["options"]["maxRecvKbps"].asInt() == 123;
  }
  ASSERT_TRUE(settled) << "waited 120 s for the engine to run unpaused with the new receive limit; last seen " << seen;
  // A little later still (the engine writes its file within about 0.5 s of
  // every configuration post), the file and the engine agree.
  std::this_thread::sleep_for(3s);
  auto config = Rest(controller_->ApiKey(), "system/config");
  ASSERT_TRUE(config.has_value());
  const Json::Value* f = Folder(*config, folderId);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ((*config)["options"]["maxRecvKbps"].asInt(), 123);
  EXPECT_EQ((*config)["options"]["maxSendKbps"].asInt(), 77);
  EXPECT_EQ((*f)["type"].asString(), "sendonly");
  EXPECT_EQ((*f)["order"].asString(), "alphabetic");
  EXPECT_EQ((*f)["versioning"]["type"].asString(), "simple");
  EXPECT_EQ((*f)["versioning"]["params"]["keep"].asString(), "4");
  EXPECT_FALSE((*f)["paused"].asBool());
  const std::string file = ReadFile(install_->layout().EngineConfig());
  EXPECT_NE(file.find("<maxRecvKbps>123</maxRecvKbps>"), std::string::npos) << file;
  EXPECT_NE(file.find("<maxSendKbps>77</maxSendKbps>"), std::string::npos);
  EXPECT_NE(file.find("type=\"sendonly\""), std::string::npos);
  EXPECT_NE(file.find("<order>alphabetic</order>"), std::string::npos);
  EXPECT_NE(file.find("<param key=\"keep\" val=\"4\""), std::string::npos) << file;

  // The controller's record holds what the files hold.
  const SyncSettings record = controller_->Settings();
  EXPECT_EQ(record.receiveLimit, 123);
  EXPECT_EQ(record.folderType, kFolderSendOnly);
  EXPECT_EQ(record.versionsKept, 4);

  // The server took the versions for its copy of the folder.
  const auto keys = presenter_.Keys();
  EXPECT_NE(std::find(keys.begin(), keys.end(), L"versioning_Success_msg"), keys.end());
  const std::string nasConfig = ReadFile(install_->root() / "nas" / "engine" / "config.xml");
  EXPECT_NE(nasConfig.find("\"keep\" val=\"4\""), std::string::npos) << nasConfig;
}

}  // namespace
}  // namespace orlin
