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

struct Commands : ::testing::Test {
  Commands() : http(platform::kHttpUserAgent) {}

  EngineCommands& Make() {
    EngineCommandHooks hooks;
    hooks.folderId = [this] { return folderId; };
    hooks.submitConfigFetch = [this](std::int32_t kind, std::int32_t parameter) {
      fetches.emplace_back(kind, parameter);
    };
    hooks.settingsPauseBegins = [this] { ++settingsPauses; };
    hooks.resetPollerPositions = [this] { order.push_back("reset positions"); };
    hooks.reprime = [this] { order.push_back("reprime"); };
    hooks.localChangeCount = [this] { return localChanges.load(); };
    hooks.folderStateText = [this] {
      std::lock_guard lock(stateMutex);
      return state;
    };
    made = std::make_unique<EngineCommands>(http, presenter, std::move(hooks), server.BaseUrl() + "/rest/",
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
  std::string folderId;
  std::vector<std::pair<std::int32_t, std::int32_t>> fetches;
  std::vector<std::string> order;
  int settingsPauses = 0;
  std::atomic<std::int64_t> localChanges{0};
  std::mutex stateMutex;
  std::string state;
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
  EXPECT_EQ(order, (std::vector<std::string>{"reset positions", "reprime"}));
  ASSERT_EQ(owner.sent.size(), 1u);
  EXPECT_EQ(owner.sent[0].first, 2042u);
  EXPECT_TRUE(presenter.texts.empty()) << "refresh failures are silent";

  // A settings apply refreshes without the end-of-refresh message.
  commands.Refresh(EngineCommands::kQuietRefresh);
  EXPECT_EQ(server.RequestCount(), 6u);
  EXPECT_EQ(owner.sent.size(), 1u);
}

TEST_F(Commands, PauseResumeAndFolderFetchOnlyQueueConfigurationFetches) {
  auto& commands = Make();
  commands.Pause(0);
  EXPECT_EQ(commands.stateWord.load(), 1);
  EXPECT_EQ(commands.currentCommand.load(), 3);
  EXPECT_EQ(settingsPauses, 0);
  EXPECT_TRUE(owner.posted.empty());

  commands.Pause(8);
  EXPECT_EQ(settingsPauses, 1);
  EXPECT_EQ(commands.pauseReason.load(), 8);
  ASSERT_EQ(owner.posted.size(), 1u);
  EXPECT_EQ(owner.posted[0], std::make_pair(2047u, std::uintptr_t{0}));
  EXPECT_EQ(commands.previousStateWord.load(), 1);

  commands.Resume();
  EXPECT_EQ(commands.currentCommand.load(), 4);

  commands.FetchFolderIdentifier(4);
  folderId = "anna-folder";
  commands.FetchFolderIdentifier(0);  // known: nothing
  EXPECT_EQ(fetches, (std::vector<std::pair<std::int32_t, std::int32_t>>{{3, 0}, {3, 8}, {4, 0}, {6, 4}}));
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(Commands, RevertAndOverrideNeedTheFolderAndShowRefusals) {
  auto& commands = Make();
  EXPECT_EQ(commands.Revert(), EngineCommands::Outcome::kNothingToDo);
  EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kNothingToDo);
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(presenter.texts.empty());

  folderId = "anna-folder";
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

TEST_F(Commands, OverrideAgainstAStoppedEngineShowsTheConnectionError) {
  EngineCommandHooks hooks;
  hooks.folderId = [] { return std::string("f"); };
  // Port 1 on loopback: nothing listens.
  EngineCommands commands(http, presenter, std::move(hooks), "http://127.0.0.1:1/rest/");
  EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kFailed);
  ASSERT_EQ(presenter.texts.size(), 1u);
  EXPECT_FALSE(presenter.texts[0].empty());
}

TEST_F(Commands, RevertWaitsForTheLocalChangesToGoAndGivesUpWhenTheyStay) {
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, ""));
  folderId = "ro";
  auto& commands = Make();
  localChanges = 3;
  std::thread engine([this] {
    std::this_thread::sleep_for(300ms);
    localChanges = 0;
  });
  EXPECT_EQ(commands.Revert(), EngineCommands::Outcome::kDone);
  engine.join();

  localChanges = 2;  // the poller never sees them go
  EXPECT_EQ(commands.Revert({}, 300ms), EngineCommands::Outcome::kGaveUp);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(commands.Revert(stop.get_token()), EngineCommands::Outcome::kGaveUp);
}

TEST_F(Commands, OverrideWaitsWhileOutOfSyncThenLearnsTheFolderAgain) {
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, ""));
  folderId = "so";
  auto& commands = Make();
  state = "outofsync";
  std::thread engine([this] {
    std::this_thread::sleep_for(300ms);
    std::lock_guard lock(stateMutex);
    state = "idle";
  });
  EXPECT_EQ(commands.Override(), EngineCommands::Outcome::kDone);
  engine.join();
  // The folder is known, so the identifier fetch queues nothing.
  EXPECT_TRUE(fetches.empty());
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
  EngineCommands other(http, presenter, {}, silent.BaseUrl() + "/rest/", silent.BaseUrl() + "/diag/");
  EXPECT_EQ(other.AddTestFolder(dir.string()), "");
  EXPECT_EQ(silent.RequestCount(), 1u);
}

}  // namespace
}  // namespace orlin
