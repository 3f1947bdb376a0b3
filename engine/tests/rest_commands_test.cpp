#include "engine/rest_commands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "common/message_presenter.h"
#include "common/owner_window.h"
#include "platform/http_client.h"
#include "tests/support/http_test_server.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
using testsupport::HttpTestServer;
using testsupport::ScriptedAnswer;

constexpr char kDeviceId[] = "MFZWI3D-BONSGYC-YLTMRWG-C43ENR5-QXGZDMM-FZWI3DP-BONSGYY-LTMRWAD";

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    titles.push_back(title);
    texts.push_back(key);
    cancel = showCancel;
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override { ADD_FAILURE(); }
  std::vector<std::wstring> titles, texts;
  bool cancel = false;
};

class RecordingOwner : public OwnerWindow {
 public:
  void Post(unsigned message, std::uintptr_t wParam, std::intptr_t) override {
    std::lock_guard lock(mutex);
    posted.emplace_back(message, wParam);
  }
  std::intptr_t Send(unsigned message, std::uintptr_t wParam, std::intptr_t) override {
    std::lock_guard lock(mutex);
    sent.emplace_back(message, wParam);
    return 0;
  }
  std::mutex mutex;
  std::vector<std::pair<unsigned, std::uintptr_t>> posted, sent;
};

// The poller as the commands see it: what they ask of it is recorded, what
// they read is set by the test.
class FakePollerControl final : public PollerControl {
 public:
  std::string FolderId() const override {
    std::lock_guard lock(mutex);
    return folderId;
  }
  std::string FolderStateText() const override {
    std::lock_guard lock(mutex);
    return state;
  }
  std::int64_t LocalChangeCount() const override { return localChanges.load(); }
  void SubmitConfigFetch(std::int32_t kind, std::int32_t parameter) override {
    std::lock_guard lock(mutex);
    fetches.emplace_back(kind, parameter);
  }
  void SettingsPauseBegins() override { ++settingsPauses; }
  void Reprime(std::int32_t parameter) override {
    std::lock_guard lock(mutex);
    reprimes.push_back(parameter);
  }

  void SetFolder(std::string id) {
    std::lock_guard lock(mutex);
    folderId = std::move(id);
  }
  void SetState(std::string text) {
    std::lock_guard lock(mutex);
    state = std::move(text);
  }

  mutable std::mutex mutex;
  std::string folderId;
  std::string state;
  std::vector<std::pair<std::int32_t, std::int32_t>> fetches;
  std::vector<std::int32_t> reprimes;
  std::atomic<int> settingsPauses{0};
  std::atomic<std::int64_t> localChanges{0};
};

struct Commands : ::testing::Test {
  Commands() : http(platform::kHttpUserAgent) {}

  EngineCommands& Make() {
    made = std::make_unique<EngineCommands>(http, presenter, poller, server.BaseUrl() + "/rest/",
                                            server.BaseUrl() + "/diag/");
    made->SetApiKey("k3y");
    made->SetOwner(&owner);
    return *made;
  }

  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const auto& r : server.Requests()) targets.push_back(r.method + " " + r.target);
    return targets;
  }

  HttpTestServer server;
  platform::CHttpClient http;
  std::unique_ptr<EngineCommands> made;
  RecordingPresenter presenter;
  RecordingOwner owner;
  FakePollerControl poller;
};

TEST(DeviceIdAnswer, JsonStartsAtTheFirstBraceAndNeedsAStringMyId) {
  const std::wstring id = L"MFZWI3D-BONSGYC-YLTMRWG-C43ENR5-QXGZDMM-FZWI3DP-BONSGYY-LTMRWAD";
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"{\"myID\":\"" + id + L"\",\"uptime\":3}"), id);
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"X-API-Key: abc\r\n{\"myID\":\"" + id + L"\"}"), id);
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"no json here"), std::nullopt);
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"CInternetException\n"), std::nullopt);
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"{\"myID\":42}"), std::nullopt);
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"{\"other\":\"x\"}"), std::nullopt);
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"{\"myID\":\"abc\""), std::nullopt);  // truncated
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"[\"myID\"]{"), std::nullopt);
  // Nested beyond the JSON reader's limit, where it throws instead of
  // failing (fuzz/corpus/device_id/deep-nesting.json): no ID, and no crash.
  EXPECT_EQ(EngineCommands::ParseDeviceId(L"{\"myID\":" + std::wstring(1005, L'[') + std::wstring(1005, L']') + L"}"),
            std::nullopt);
}

TEST_F(Commands, DeviceIdQueryCarriesTheKey) {
  server.Route("/rest/system/status", ScriptedAnswer::Respond(200, std::string("{\"myID\":\"") + kDeviceId + "\"}"));
  auto& commands = Make();
  auto id = commands.QueryDeviceId();
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(id->size(), 63u);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("X-API-Key"), "k3y");
}

TEST_F(Commands, RefreshPostsRestartResetRescanThenSignalsAndReprimes) {
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "{}"));
  server.Route("/rest/system/reset", ScriptedAnswer::Respond(500, "folder must be paused when resetting"));
  auto& commands = Make();
  commands.Refresh(0);
  EXPECT_EQ(Targets(), (std::vector<std::string>{"POST /rest/system/restart", "POST /rest/system/reset",
                                                 "POST /rest/db/scan"}));
  for (const auto& r : server.Requests()) {
    EXPECT_EQ(r.Header("Content-Type"), "application/json");
    EXPECT_EQ(r.body, "");
  }
  // The window is told once, by the refresh; the poller's Re-prime stays quiet.
  EXPECT_EQ(poller.reprimes, std::vector<std::int32_t>{EngineCommands::kQuietRefresh});
  ASSERT_EQ(owner.sent.size(), 1u);
  EXPECT_EQ(owner.sent[0].first, 2042u);
  EXPECT_TRUE(presenter.texts.empty()) << "refresh failures are silent";

  // A settings apply refreshes without the end-of-refresh message.
  commands.Refresh(EngineCommands::kQuietRefresh);
  EXPECT_EQ(server.RequestCount(), 6u);
  EXPECT_EQ(owner.sent.size(), 1u);
  EXPECT_EQ(poller.reprimes.size(), 2u);
}

TEST_F(Commands, PauseResumeAndFolderFetchOnlyQueueConfigurationFetches) {
  auto& commands = Make();
  commands.Pause(0);
  EXPECT_EQ(poller.settingsPauses, 0);
  EXPECT_TRUE(owner.posted.empty());

  commands.Pause(8);
  EXPECT_EQ(poller.settingsPauses, 1);
  ASSERT_EQ(owner.posted.size(), 1u);
  EXPECT_EQ(owner.posted[0], std::make_pair(2047u, std::uintptr_t{0}));

  commands.Resume();
  commands.FetchFolderIdentifier(4);
  poller.SetFolder("anna-folder");
  commands.FetchFolderIdentifier(0);  // known: nothing
  EXPECT_EQ(poller.fetches, (std::vector<std::pair<std::int32_t, std::int32_t>>{{3, 0}, {3, 8}, {4, 0}, {6, 4}}));
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(Commands, RevertAndOverrideNeedTheFolderAndShowRefusals) {
  auto& commands = Make();
  EXPECT_EQ(commands.Revert(), EngineCommands::Outcome::kNothingToDo);
  EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kNothingToDo);
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(presenter.texts.empty());

  poller.SetFolder("anna-folder");
  server.SetDefaultAnswer(ScriptedAnswer::Respond(500, "folder is not receive-only"));
  EXPECT_EQ(commands.Revert(), EngineCommands::Outcome::kFailed);
  EXPECT_EQ(Targets().back(), "POST /rest/db/revert?folder=anna-folder");
  ASSERT_EQ(presenter.titles.size(), 1u);
  EXPECT_EQ(presenter.titles[0], L"Orlin Override");
  EXPECT_TRUE(presenter.cancel);

  EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kFailed);
  EXPECT_EQ(Targets().back(), "POST /rest/db/override?folder=anna-folder");
  EXPECT_EQ(presenter.titles.size(), 2u);
}

TEST_F(Commands, RevertAndOverrideNameFoldersWithReservedCharactersEncoded) {
  // The folder identifier is the user name followed by the server's device
  // ID: a blank, '+', '&', '#', '%' or a quote must reach the engine as part
  // of the name, not end or change the query.
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, ""));
  auto& commands = Make();
  const std::string device = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";
  const std::vector<std::pair<std::string, std::string>> names = {
      {"ann lee", "ann%20lee"},
      {"a+b", "a%2Bb"},
      {"o'neil & co #1 %", "o%27neil%20%26%20co%20%231%20%25"},
      {"\xE5\xBC\xA0\xE4\xB8\x89", "%E5%BC%A0%E4%B8%89"},  // a Chinese name, UTF-8
  };
  for (const auto& [user, encoded] : names) {
    SCOPED_TRACE(user);
    poller.SetFolder(user + device);
    EXPECT_EQ(commands.Revert(), EngineCommands::Outcome::kDone);
    EXPECT_EQ(Targets().back(), "POST /rest/db/revert?folder=" + encoded + device);
    EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kDone);
    EXPECT_EQ(Targets().back(), "POST /rest/db/override?folder=" + encoded + device);
  }
  EXPECT_TRUE(presenter.texts.empty());
}

TEST_F(Commands, OverrideAgainstAStoppedEngineShowsTheConnectionError) {
  poller.SetFolder("f");
  // Port 1 on loopback: nothing listens.
  EngineCommands commands(http, presenter, poller, "http://127.0.0.1:1/rest/");
  EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kFailed);
  ASSERT_EQ(presenter.texts.size(), 1u);
  EXPECT_FALSE(presenter.texts[0].empty());
}

TEST_F(Commands, RevertWaitsForTheLocalChangesToGoAndGivesUpWhenTheyStay) {
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, ""));
  poller.SetFolder("ro");
  auto& commands = Make();
  poller.localChanges = 3;
  std::thread engine([this] {
    std::this_thread::sleep_for(300ms);
    poller.localChanges = 0;
  });
  EXPECT_EQ(commands.Revert(), EngineCommands::Outcome::kDone);
  engine.join();

  poller.localChanges = 2;  // the poller never sees them go
  EXPECT_EQ(commands.Revert({}, 300ms), EngineCommands::Outcome::kGaveUp);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(commands.Revert(stop.get_token()), EngineCommands::Outcome::kGaveUp);
}

TEST_F(Commands, OverrideWaitsWhileOutOfSyncThenLearnsTheFolderAgain) {
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, ""));
  poller.SetFolder("so");
  auto& commands = Make();
  poller.SetState("outofsync");
  std::thread engine([this] {
    std::this_thread::sleep_for(300ms);
    poller.SetState("idle");
  });
  EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kDone);
  engine.join();
  // The folder is known, so the identifier fetch queues nothing.
  EXPECT_TRUE(poller.fetches.empty());
}

TEST_F(Commands, TestFolderIsAppendedToTheConfigurationAndPosted) {
  server.Route("/diag/svc/random/string?length=10", ScriptedAnswer::Respond(200, "{\"random\":\"abcdeFGHIJ\"}"));
  server.Route("/diag/system/config", ScriptedAnswer::Respond(200, "{\"folders\":[{\"id\":\"old\"}],\"version\":35}"));
  auto& commands = Make();
  const auto dir = std::filesystem::temp_directory_path() / ("orlin-addfolder-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  EXPECT_EQ(commands.AddTestFolder(dir.string()), "abcde-FGHIJ");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].method, "POST");
  const std::string& posted = requests[2].body;
  EXPECT_NE(posted.find("\"id\":\"old\""), std::string::npos);
  EXPECT_NE(posted.find("\"id\":\"abcde-FGHIJ\""), std::string::npos);
  EXPECT_NE(posted.find("\"markerName\":\".stfolder\""), std::string::npos);
  EXPECT_NE(posted.find("\"version\":35"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "customconfig.json"));
  std::filesystem::remove_all(dir);

  // No random string: nothing more is asked.
  HttpTestServer silent;
  EngineCommands other(http, presenter, poller, silent.BaseUrl() + "/rest/", silent.BaseUrl() + "/diag/");
  EXPECT_EQ(other.AddTestFolder(dir.string()), "");
  EXPECT_EQ(silent.RequestCount(), 1u);
}

}  // namespace
}  // namespace orlin
