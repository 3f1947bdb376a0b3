// The status poller's own logic, driven without a loop: what the first batch
// asks for, where each answer goes, what is asked again, the refresh
// messages, the pause and resume answers, Re-prime and the debug files.

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <map>

#include "common/atomic_file.h"
#include "monitor/poller.h"
#include "monitor/tests/parser_fuzz_fakes.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

using orlin::testing::FakeClock;
using orlin::testing::RecordingRequests;
using orlin::testing::RecordingView;
using orlin::testing::RecordingWindow;

const std::string kBase(rest::kBase);
const std::string kFolder = "annaABCDEFG";

std::string Rest(const std::string& endpoint) { return kBase + endpoint; }

// Handlers that only record which of them took which answer.
struct Routing {
  std::vector<std::string> calls;

  AnswerHandlers Handlers() {
    AnswerHandlers h;
    auto record = [this](const char* name) {
      return [this, name](MonitorContext&, const PollAnswer&) { calls.emplace_back(name); };
    };
    h.diskEvents = record("disk");
    h.eventStream = record("events");
    h.folderCompletionEvents = record("completion-events");
    h.folderStatus = record("folder-status");
    h.unsyncedFiles = record("unsynced");
    h.failedFiles = record("failed");
    h.locallyChanged = record("local-changes");
    h.folderStatistics = record("statistics");
    h.folderFromConfig = record("folder-from-config");
    h.systemStatus = record("system-status");
    h.systemVersion = record("version");
    h.discovery = record("discovery");
    h.connections = record("connections");
    h.deviceNames = record("device-names");
    h.remoteCompletion = record("remote-completion");
    return h;
  }
};

class PollerDispatch : public ::testing::Test {
 protected:
  std::unique_ptr<StatusPoller> MakePoller(AnswerHandlers handlers, StatusPollerSetup setup = {}) {
    setup.window = &window_;
    setup.view = &view_;
    return std::make_unique<StatusPoller>(model_, log_, requests_, clock_, setup, std::move(handlers));
  }

  static PollAnswer Answer(const std::string& url, std::string body = "{}", std::int32_t kind = kKindPeriodic) {
    PollAnswer answer;
    answer.request.url = url;
    answer.request.kind = kind;
    answer.effectiveUrl = url;
    answer.body = std::move(body);
    return answer;
  }

  std::vector<std::string> SubmittedUrls() const {
    std::vector<std::string> urls;
    for (const PollRequest& r : requests_.submitted) urls.push_back(r.url);
    return urls;
  }
  std::size_t Submissions(const std::string& url) const {
    return static_cast<std::size_t>(std::count_if(requests_.submitted.begin(), requests_.submitted.end(),
                                                  [&](const PollRequest& r) { return r.url == url; }));
  }

  StatusModel model_;
  DiagnosticLog log_;
  RecordingRequests requests_;
  RecordingWindow window_;
  RecordingView view_;
  FakeClock clock_;
};

TEST_F(PollerDispatch, FirstBatchAsksEveryEndpointOnceAndTheFolderWhileUnknown) {
  Routing routing;
  auto poller = MakePoller(routing.Handlers());
  poller->FirstBatch();
  const std::vector<std::string> expected = {
      Rest("events/disk?since=0"),       Rest("events?since=0&limit=1"), Rest("events?since=0&events=FolderCompletion"),
      Rest("stats/folder"),              Rest("system/discovery"),       Rest("system/connections"),
      Rest("system/status"),             Rest("system/version"),         Rest("system/error"),
      Rest("system/config"),
  };
  EXPECT_EQ(SubmittedUrls(), expected);
  for (std::size_t i = 0; i + 1 < requests_.submitted.size(); ++i) EXPECT_EQ(requests_.submitted[i].kind, kKindPeriodic);
  EXPECT_EQ(requests_.submitted.back().kind, kKindFolderDiscovery);

  // A second batch while the first still circulates adds no periodic GET
  // (a Re-prime would otherwise grow the circulation each time).
  model_.folder.SetFolderId(kFolder);
  const std::size_t before = requests_.submitted.size();
  poller->FirstBatch();
  EXPECT_EQ(requests_.submitted.size(), before);
  EXPECT_EQ(poller->InFlight(Rest("system/status")), 1u);
}

TEST_F(PollerDispatch, AnswersReachTheirHandlerByExactUrlAndAreAskedAgainOnce) {
  Routing routing;
  auto poller = MakePoller(routing.Handlers());
  model_.folder.SetFolderId(kFolder);
  poller->FirstBatch();
  const std::map<std::string, std::string> routes = {
      {Rest("events/disk?since=0"), "disk"},
      {Rest("events?since=0&limit=1"), "events"},
      {Rest("events?since=0&events=FolderCompletion"), "completion-events"},
      {Rest("stats/folder"), "statistics"},
      {Rest("system/discovery"), "discovery"},
      {Rest("system/connections"), "connections"},
      {Rest("system/status"), "system-status"},
      {Rest("system/version"), "version"},
      {Rest("db/status?folder=") + kFolder, "folder-status"},
  };
  for (const auto& [url, handler] : routes) {
    SCOPED_TRACE(url);
    routing.calls.clear();
    const std::size_t asked = Submissions(url);
    poller->Dispatch(Answer(url));
    EXPECT_EQ(routing.calls, std::vector<std::string>{handler});
    EXPECT_EQ(Submissions(url), asked + 1) << "asked again once";
    EXPECT_EQ(poller->InFlight(url), 1u);
  }

  // Near misses go nowhere and are not asked again.
  for (const std::string& url : {Rest("system/status?x=1"), Rest("db/status?folder=other"), std::string("garbage")}) {
    SCOPED_TRACE(url);
    routing.calls.clear();
    const std::size_t before = requests_.submitted.size();
    poller->Dispatch(Answer(url));
    EXPECT_TRUE(routing.calls.empty());
    EXPECT_EQ(requests_.submitted.size(), before);
  }

  // A remote completion answer is recognised by its prefix.
  routing.calls.clear();
  poller->Dispatch(Answer(Rest("db/completion?folder=") + kFolder + "&device=ABC"));
  EXPECT_EQ(routing.calls, std::vector<std::string>{"remote-completion"});

  // Configuration answers go by their kind.
  routing.calls.clear();
  poller->Dispatch(Answer(Rest("system/config"), "{}", kKindFolderDiscovery));
  poller->Dispatch(Answer(Rest("system/config"), "{}", kKindDeviceNames));
  EXPECT_EQ(routing.calls, (std::vector<std::string>{"folder-from-config", "device-names"}));
}

TEST_F(PollerDispatch, FoldersNamedWithReservedCharactersAreFollowedThroughEveryFolderRequest) {
  // The folder identifier is the user name followed by the server's device
  // ID. Each folder request the real handlers build must be recognised when
  // its answer comes back, and carry the name encoded.
  const std::string device = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";
  const std::vector<std::pair<std::string, std::string>> users = {
      {"ann lee", "ann%20lee"}, {"a+b", "a%2Bb"}, {"o'neil & co #1 %", "o%27neil%20%26%20co%20%231%20%25"}};
  for (const auto& [user, encoded] : users) {
    SCOPED_TRACE(user);
    StatusModel model;
    RecordingRequests requests;
    StatusPoller poller(model, log_, requests, clock_, StatusPollerSetup{{}, &window_, &view_, nullptr, {}, {}});
    model.folder.folderType.store(SharedFolderState::kReceiveOnly);
    const std::string folder = user + device;
    const std::string query = "?folder=" + encoded + device;
    auto asked = [&](const std::string& url) {
      return std::any_of(requests.submitted.begin(), requests.submitted.end(),
                         [&](const PollRequest& r) { return r.url == url; });
    };

    // The statistics name the folder: its status is asked for.
    Json::Value stats;
    stats[folder]["lastFile"]["filename"] = "plan.txt";
    stats[folder]["lastFile"]["at"] = "2026-12-08T18:23:04.5+01:00";
    poller.Dispatch(Answer(Rest("stats/folder"), Json::writeString(Json::StreamWriterBuilder(), stats)));
    ASSERT_EQ(model.folder.FolderId(), folder);
    ASSERT_TRUE(asked(Rest("db/status") + query));

    // Its answer is taken and asks for unsynced, failed and locally changed files.
    poller.Dispatch(Answer(Rest("db/status") + query,
                           R"({"state":"idle","globalBytes":10,"inSyncBytes":10,"needTotalItems":1,)"
                           R"("pullErrors":1,"receiveOnlyTotalItems":1})"));
    EXPECT_EQ(model.folder.FolderStateText(), "localadditions");
    EXPECT_TRUE(asked(Rest("db/need") + query + "&page=1&perpage=1000"));
    EXPECT_TRUE(asked(Rest("folder/errors") + query + "&page=1&perpage=1"));
    EXPECT_TRUE(asked(Rest("db/localchanged") + query + "&page=1&perpage=1"));

    poller.Dispatch(Answer(Rest("db/need") + query + "&page=1&perpage=1000",
                           R"({"progress":[],"queued":[],"rest":[{"name":"r.txt","type":"FILE_INFO_TYPE_FILE"}]})"));
    poller.Dispatch(Answer(Rest("folder/errors") + query + "&page=1&perpage=1",
                           R"({"errors":[{"path":"e.txt","error":"pulling: denied"}]})"));
    poller.Dispatch(Answer(Rest("db/localchanged") + query + "&page=1&perpage=1",
                           R"({"files":[{"name":"l.txt","modified":"2026-12-08T18:26:38+01:00","size":3}]})"));
    EXPECT_EQ(model.unsynced.Size(), 1u);
    EXPECT_EQ(model.failed.Size(), 1u);
    EXPECT_EQ(model.locallyChanged.Size(), 1u);

    // A connected device's completion is asked for and read back.
    model.devices.Replace({DeviceRecord::NewDevice(device)});
    model.devices.Locked([](std::deque<DeviceRecord>& rows) { rows[0].connected = 1; });
    poller.Dispatch(Answer(Rest("system/status"), R"({"sys":1,"startTime":"2026-12-08T18:00:00Z"})"));
    const std::string completion = Rest("db/completion") + query + "&device=" + device;
    ASSERT_TRUE(asked(completion));
    poller.Dispatch(Answer(completion, R"({"completion":50,"globalBytes":200,"needBytes":100,"needItems":1})"));
    EXPECT_DOUBLE_EQ(model.devices.Snapshot()[0].completion, 50.0);
  }
}

TEST_F(PollerDispatch, TheCommandsSeeTheModelThroughThePoller) {
  auto poller = MakePoller(AnswerHandlers::Real());
  PollerControl& control = *poller;
  model_.folder.SetFolderId(kFolder);
  model_.folder.SetFolderStateText("outofsync");
  model_.folder.lastRequestedChangeCount.store(4);
  EXPECT_EQ(control.FolderId(), kFolder);
  EXPECT_EQ(control.FolderStateText(), "outofsync");
  EXPECT_EQ(control.LocalChangeCount(), 4);

  control.SettingsPauseBegins();
  EXPECT_EQ(model_.folder.pauseParameter.load(), 8);
  EXPECT_EQ(model_.folder.pausing.load(), 1);
  control.SubmitConfigFetch(kKindPause, 8);
  ASSERT_FALSE(requests_.submitted.empty());
  EXPECT_EQ(requests_.submitted.back().url, Rest("system/config"));
  EXPECT_EQ(requests_.submitted.back().kind, kKindPause);
  EXPECT_EQ(requests_.submitted.back().parameter, 8);
  EXPECT_EQ(model_.folder.lastConfigKind.load(), kKindPause);
}

TEST_F(PollerDispatch, RefreshMessagesCountStatusAnswersButNotTheDiskFeed) {
  Routing routing;
  auto poller = MakePoller(routing.Handlers());
  for (int i = 0; i < 7; ++i) poller->Dispatch(Answer(Rest("events/disk?since=0")));
  EXPECT_EQ(window_.Count(kMsgThisDeviceRefresh), 0);
  for (int i = 0; i < 15; ++i) poller->Dispatch(Answer(Rest("system/status")));
  EXPECT_EQ(window_.Count(kMsgThisDeviceRefresh), 5);
  EXPECT_EQ(window_.Count(kMsgRemoteDevicesRefresh), 3);
  for (const auto& m : window_.messages) EXPECT_FALSE(m.sent) << m.id;
}

TEST_F(PollerDispatch, PauseAndResumeAnswersPostTheConfigurationBack) {
  auto poller = MakePoller(AnswerHandlers::Real());
  model_.folder.SetFolderId(kFolder);
  const std::string config = R"({"version":35,"folders":[{"id":")" + kFolder +
                             R"(","paused":false,"maxConflicts":9007199254740993}],"devices":[]})";

  poller->Dispatch(Answer(Rest("system/config"), config, kKindPause));
  ASSERT_EQ(requests_.posted.size(), 1u);
  const std::string& post = requests_.posted[0];
  ASSERT_EQ(post.substr(0, post.find('\n')), Rest("system/config"));
  Json::Value document;
  ASSERT_TRUE(Json::Reader().parse(post.substr(post.find('\n') + 1), document));
  EXPECT_TRUE(document["folders"][0]["paused"].asBool());
  EXPECT_EQ(document["folders"][0]["maxConflicts"].asUInt64(), 9007199254740993ull) << "integers stay exact";

  // A resume also asks for the folder state with its kind, so the answer can
  // tell whether the engine took it.
  requests_.submitted.clear();
  poller->Dispatch(Answer(Rest("system/config"), config, kKindResume));
  ASSERT_EQ(requests_.posted.size(), 2u);
  ASSERT_TRUE(Json::Reader().parse(requests_.posted[1].substr(requests_.posted[1].find('\n') + 1), document));
  EXPECT_FALSE(document["folders"][0]["paused"].asBool());
  ASSERT_EQ(requests_.submitted.size(), 1u);
  EXPECT_EQ(requests_.submitted[0].url, Rest("db/status?folder=") + kFolder);
  EXPECT_EQ(requests_.submitted[0].kind, kKindResume);

  // Nothing posted for a configuration that does not hold the folder, or no
  // configuration at all; a resume keeps asking until the engine answers.
  requests_.submitted.clear();
  poller->Dispatch(Answer(Rest("system/config"), R"({"folders":[{"id":"other"}]})", kKindResume));
  poller->Dispatch(Answer(Rest("system/config"), "", kKindResume));
  poller->Dispatch(Answer(Rest("system/config"), "not json", kKindPause));
  EXPECT_EQ(requests_.posted.size(), 2u);
  ASSERT_EQ(requests_.submitted.size(), 2u);
  for (const PollRequest& r : requests_.submitted) {
    EXPECT_EQ(r.url, Rest("system/config"));
    EXPECT_EQ(r.kind, kKindResume);
  }
}

TEST_F(PollerDispatch, ReprimeStartsTheFeedsAgainAndSaysSoUnlessQuiet) {
  Routing routing;
  auto poller = MakePoller(routing.Handlers());
  model_.folder.SetFolderId(kFolder);
  model_.poll.diskEventsCursor = "812";
  model_.poll.lastGeneralEventId = "90";
  model_.poll.inBytesTotal = 5000;

  poller->Reprime(0);
  EXPECT_EQ(model_.poll.diskEventsCursor, "0");
  EXPECT_EQ(model_.poll.lastGeneralEventId, "0");
  EXPECT_EQ(model_.poll.inBytesTotal, 0u);
  EXPECT_EQ(window_.Count(kMsgRefreshDone), 1);
  EXPECT_EQ(Submissions(Rest("events/disk?since=0")), 1u);

  // The disk feed answered under its old cursor is no longer the feed.
  routing.calls.clear();
  poller->Dispatch(Answer(Rest("events/disk?since=812")));
  EXPECT_TRUE(routing.calls.empty());

  poller->Reprime(9);
  EXPECT_EQ(window_.Count(kMsgRefreshDone), 1) << "a quiet refresh sends nothing";

  // The refresh restarted the engine itself: the new start time that the
  // next status brings does not start the feeds over a second time.
  model_.poll.engineStartTime = "2026-12-08T18:00:00Z";
  poller->Reprime(9);
  EXPECT_TRUE(model_.poll.engineStartTime.empty());
}

TEST_F(PollerDispatch, DebugFilesHoldTheLastAnswerOnlyWhenAsked) {
  testsupport::TempDir dir;
  {
    Routing routing;
    StatusPollerSetup setup;
    setup.debugDirectory = dir.path();
    auto poller = MakePoller(routing.Handlers(), setup);
    poller->Dispatch(Answer(Rest("events/disk?since=0"), "[first]"));
    poller->Dispatch(Answer(Rest("events/disk?since=0"), "[second]"));
    poller->Dispatch(Answer(Rest("stats/folder"), "{\"stats\":1}"));
    std::string text;
    ASSERT_TRUE(ReadWholeFile(dir.path() / "disk.txt", text));
    EXPECT_EQ(text, "[second]");
    ASSERT_TRUE(ReadWholeFile(dir.path() / "stats.txt", text));
    EXPECT_EQ(text, "{\"stats\":1}");
  }
  testsupport::TempDir quiet;
  Routing routing;
  auto poller = MakePoller(routing.Handlers());
  poller->Dispatch(Answer(Rest("events/disk?since=0"), "[x]"));
  EXPECT_TRUE(std::filesystem::is_empty(quiet.path()));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "disk.txt"));
}

TEST_F(PollerDispatch, BrokenAnswersOnEveryEndpointChangeNothingVisible) {
  auto poller = MakePoller(AnswerHandlers::Real());
  model_.folder.SetFolderId(kFolder);
  poller->FirstBatch();
  const std::vector<std::string> urls = {
      Rest("events/disk?since=0"), Rest("events?since=0&limit=1"), Rest("events?since=0&events=FolderCompletion"),
      Rest("stats/folder"),        Rest("system/discovery"),       Rest("system/connections"),
      Rest("system/status"),       Rest("system/version"),         Rest("db/status?folder=") + kFolder,
  };
  for (const char* body : {"", "{", "[1,2", "null", "\"text\"", "{\"events\":7}", "[7, \"x\", null]"}) {
    for (const std::string& url : urls) poller->Dispatch(Answer(url, body));
  }
  EXPECT_EQ(model_.syncEvents.Size(), 0u);
  EXPECT_EQ(model_.conflicts.Size(), 0u);
  EXPECT_EQ(model_.devices.Size(), 0u);
  EXPECT_EQ(model_.folder.FolderId(), kFolder) << "no folder learnt from a broken answer";
  // Every endpoint keeps circulating.
  for (const std::string& url : urls) EXPECT_EQ(poller->InFlight(url), 1u) << url;
  EXPECT_LE(log_.Size(), DiagnosticLog::kCapacity);
}

}  // namespace
}  // namespace orlin
