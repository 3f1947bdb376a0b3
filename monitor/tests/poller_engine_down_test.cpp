// The poller without an engine, driven without a loop: a transfer the engine
// never answered turns the status to the engine-down key at once, requests
// wait for the engine instead of failing ten times a second while one probe
// asks, the engine's first answer sends them and the folder status puts the
// real state back; an engine that stops answering without closing anything
// is noticed by its silence.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "monitor/poller.h"
#include "monitor/tests/parser_fuzz_fakes.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
using orlin::testing::FakeClock;
using orlin::testing::RecordingRequests;
using orlin::testing::RecordingView;
using orlin::testing::RecordingWindow;

const std::string kBase(rest::kBase);
const std::string kFolder = "annaABCDEFG";

std::string Rest(const std::string& endpoint) { return kBase + endpoint; }
const std::string kFolderStatus = Rest("db/status?folder=" + kFolder);
const std::string kSystemStatus = Rest("system/status");
// An idle folder with nothing in it: "Up to date" from its first answer.
const std::string kIdleFolder =
    R"({"state":"idle","globalBytes":0,"globalFiles":0,"needFiles":0,"needTotalItems":0,"inSyncBytes":0})";
const std::string kSystemStatusBody = R"({"sys":1000,"cpuPercent":0,"startTime":"2026-01-01T10:00:00.0Z"})";

class ManualScheduler final : public PollScheduler {
 public:
  struct Task {
    std::chrono::milliseconds delay;
    std::function<void()> run;
  };
  bool RunAfter(std::chrono::milliseconds delay, std::function<void()> task) override {
    tasks.push_back({delay, std::move(task)});
    return true;
  }
  // Runs, and forgets, every task armed with `delay`.
  int RunAll(std::chrono::milliseconds delay) {
    std::vector<Task> due;
    auto split = std::stable_partition(tasks.begin(), tasks.end(), [&](const Task& t) { return t.delay != delay; });
    std::move(split, tasks.end(), std::back_inserter(due));
    tasks.erase(split, tasks.end());
    for (Task& t : due) t.run();
    return static_cast<int>(due.size());
  }
  int Armed(std::chrono::milliseconds delay) const {
    return static_cast<int>(std::count_if(tasks.begin(), tasks.end(), [&](const Task& t) { return t.delay == delay; }));
  }
  std::vector<Task> tasks;
};

class PollerEngineDown : public ::testing::Test {
 protected:
  void MakePoller(PollScheduler* scheduler) {
    model_.folder.SetFolderId(kFolder);
    StatusPollerSetup setup;
    setup.window = &window_;
    setup.view = &view_;
    setup.scheduler = scheduler;
    poller_ = std::make_unique<StatusPoller>(model_, log_, requests_, clock_, setup);
  }
  void SetUp() override { MakePoller(&scheduler_); }

  static PollAnswer Answer(const std::string& url, std::string body, std::int32_t kind = kKindPeriodic) {
    PollAnswer answer;
    answer.request.url = url;
    answer.request.kind = kind;
    answer.effectiveUrl = url;
    answer.body = std::move(body);
    return answer;
  }
  // A transfer that got nothing from the engine; the transport may not
  // know the effective URL then.
  static PollAnswer Refused(const std::string& url, std::int32_t kind = kKindPeriodic) {
    PollAnswer answer;
    answer.request.url = url;
    answer.request.kind = kind;
    answer.reachedEngine = false;
    return answer;
  }
  std::vector<std::string> SubmittedSince(std::size_t from) const {
    std::vector<std::string> urls;
    for (std::size_t i = from; i < requests_.submitted.size(); ++i) urls.push_back(requests_.submitted[i].url);
    return urls;
  }
  std::size_t LogLinesContaining(std::string_view text) const {
    std::size_t n = 0;
    for (const LogEntry& entry : log_.Entries()) n += entry.message.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
  // Every circulating endpoint as the first batch leaves them, once the
  // folder is known.
  std::vector<std::string> Circulating() const {
    return {Rest("events/disk?since=0"),  Rest("events?since=0&limit=1"), Rest("events?since=0&events=FolderCompletion"),
            Rest("stats/folder"),         Rest("system/discovery"),       Rest("system/connections"),
            kSystemStatus,                Rest("system/version"),         kFolderStatus};
  }

  StatusModel model_;
  DiagnosticLog log_;
  RecordingRequests requests_;
  RecordingWindow window_;
  RecordingView view_;
  FakeClock clock_;
  ManualScheduler scheduler_;
  std::unique_ptr<StatusPoller> poller_;
};

TEST_F(PollerEngineDown, TheStatusStopsClaimingUpToDateAndTheRequestsWaitForTheEngine) {
  poller_->FirstBatch();
  poller_->Dispatch(Answer(kFolderStatus, kIdleFolder));
  ASSERT_EQ(model_.folder.StatusKey(), L"Up to date");
  ASSERT_TRUE(model_.folder.engineAnswering.load());

  // The main window's data thread listens to the model's bell: it checks
  // the engine as soon as it is lost.
  int rings = 0;
  model_.changeBell.SetListener([&](const void* what) { rings += what == nullptr ? 1 : 0; });

  // The engine is killed: the disk feed's connection is cut and the next
  // request is refused. The first failure is enough.
  poller_->Dispatch(Refused(Rest("events/disk?since=0")));
  EXPECT_EQ(rings, 1) << "the bell tells the data thread at once";
  model_.changeBell.SetListener({});
  EXPECT_EQ(model_.folder.StatusKey(), kEngineDownStatusKey);
  EXPECT_EQ(view_.labels.back(), kEngineDownStatusKey);
  EXPECT_FALSE(model_.folder.engineAnswering.load());
  EXPECT_TRUE(poller_->EngineDown());
  // The real state's other values stay as the engine last gave them.
  EXPECT_EQ(model_.folder.FolderStateText(), "idle");

  // Every other endpoint fails as it comes back; none is asked again at
  // once, each waits once, and no parser wrote its "empty answer" line.
  const std::size_t before = requests_.submitted.size();
  for (const std::string& url : Circulating()) poller_->Dispatch(Refused(url));
  for (int again = 0; again < 3; ++again) poller_->Dispatch(Refused(kSystemStatus));
  EXPECT_EQ(SubmittedSince(before), std::vector<std::string>{});
  EXPECT_EQ(poller_->WaitingForEngine(), Circulating().size());
  EXPECT_EQ(LogLinesContaining("空"), 0u) << "parsers ran on transfers that carried no answer";
  EXPECT_EQ(LogLinesContaining("EngineDown"), 1u);
  EXPECT_EQ(view_.labels.back(), kEngineDownStatusKey);

  // One probe per interval, and never a second while one is on its way.
  ASSERT_EQ(scheduler_.Armed(500ms), 1);
  scheduler_.RunAll(500ms);
  EXPECT_EQ(SubmittedSince(before), std::vector<std::string>{kSystemStatus});
  scheduler_.RunAll(500ms);
  EXPECT_EQ(SubmittedSince(before).size(), 1u);
  poller_->Dispatch(Refused(kSystemStatus));
  EXPECT_EQ(SubmittedSince(before).size(), 1u);
  scheduler_.RunAll(500ms);
  EXPECT_EQ(SubmittedSince(before), (std::vector<std::string>{kSystemStatus, kSystemStatus}));

  // The restarted engine answers the probe: the folder status goes first,
  // every waiting request follows, and the key stays until the folder
  // status says what the state is.
  const std::size_t probeAnswered = requests_.submitted.size();
  poller_->Dispatch(Answer(kSystemStatus, kSystemStatusBody));
  EXPECT_TRUE(model_.folder.engineAnswering.load());
  EXPECT_FALSE(poller_->EngineDown());
  EXPECT_EQ(poller_->WaitingForEngine(), 0u);
  const std::vector<std::string> released = SubmittedSince(probeAnswered);
  ASSERT_FALSE(released.empty());
  EXPECT_EQ(released.front(), kFolderStatus);
  for (const std::string& url : Circulating()) {
    EXPECT_EQ(std::count(released.begin(), released.end(), url), 1) << url;
  }
  EXPECT_EQ(model_.folder.StatusKey(), kEngineDownStatusKey);
  poller_->Dispatch(Answer(kFolderStatus, kIdleFolder));
  EXPECT_EQ(model_.folder.StatusKey(), L"Up to date");
  EXPECT_EQ(LogLinesContaining("EngineUp"), 1u);
  // The probe of the gone engine does nothing any more.
  const std::size_t after = requests_.submitted.size();
  scheduler_.RunAll(500ms);
  EXPECT_EQ(requests_.submitted.size(), after);
}

// What a user asks for while the engine is gone reaches the engine when it
// is back (a resume asked three times goes once); a list the window asked
// for is not held, so its refresh-done message gives the buttons back.
TEST_F(PollerEngineDown, CommandsWaitForTheEngineAndListRequestsEndAtOnce) {
  poller_->Dispatch(Refused(kSystemStatus));
  ASSERT_TRUE(poller_->EngineDown());
  const std::size_t before = requests_.submitted.size();
  for (int i = 0; i < 3; ++i) poller_->SubmitConfigFetch(kKindResume, 0);
  poller_->SubmitConfigFetch(kKindPause, 0);
  EXPECT_EQ(SubmittedSince(before), std::vector<std::string>{});

  const std::string failed = Rest("folder/errors?folder=" + kFolder + "&page=1&perpage=0");
  poller_->RequestNow(StatusPoller::ManualList::kFailed);
  poller_->Dispatch(Refused(Rest("system/version")));  // the loop applies the wish at its next answer
  ASSERT_EQ(SubmittedSince(before), std::vector<std::string>{failed});
  EXPECT_EQ(requests_.submitted.back().kind, kKindManualRefresh);
  poller_->Dispatch(Refused(failed, kKindManualRefresh));
  EXPECT_EQ(window_.Count(kMsgRefreshDone), 1);

  const std::size_t beforeBack = requests_.submitted.size();
  poller_->Dispatch(Answer(kSystemStatus, kSystemStatusBody));
  std::vector<std::int32_t> configKinds;
  for (std::size_t i = beforeBack; i < requests_.submitted.size(); ++i) {
    if (requests_.submitted[i].url == Rest("system/config")) configKinds.push_back(requests_.submitted[i].kind);
  }
  EXPECT_EQ(configKinds, (std::vector<std::int32_t>{kKindResume, kKindPause}));
}

// A stopped engine keeps its connections open and answers nothing: once its
// short requests have waited the silence limit with nothing else answered,
// the status says so; the first answer that comes puts it back. A slow
// request while others are answered is no silence.
TEST_F(PollerEngineDown, AnEngineThatStopsAnsweringIsNoticedByItsSilence) {
  poller_->FirstBatch();
  ASSERT_EQ(scheduler_.Armed(10000ms), 1);
  for (const std::string& url : Circulating()) poller_->Dispatch(Answer(url, "{}"));
  EXPECT_EQ(scheduler_.Armed(10000ms), 1) << "one watch at a time";

  clock_.steady += 9s;
  poller_->Dispatch(Answer(Rest("system/version"), "{}"));
  clock_.steady += 1s;
  scheduler_.RunAll(10000ms);
  EXPECT_FALSE(poller_->EngineDown());
  EXPECT_EQ(model_.folder.StatusKey(), L"Suspended_Event");  // what the "{}" folder status said
  // Looked at again later, not at once: the late requests are still late.
  ASSERT_EQ(scheduler_.Armed(2500ms), 1);

  clock_.steady += 10s;
  scheduler_.RunAll(2500ms);
  EXPECT_TRUE(poller_->EngineDown());
  EXPECT_EQ(model_.folder.StatusKey(), kEngineDownStatusKey);
  EXPECT_FALSE(model_.folder.engineAnswering.load());
  EXPECT_EQ(LogLinesContaining("EngineDown"), 1u);

  // The engine goes on: a request that waited all along is answered.
  poller_->Dispatch(Answer(kSystemStatus, kSystemStatusBody));
  EXPECT_FALSE(poller_->EngineDown());
  EXPECT_TRUE(model_.folder.engineAnswering.load());
}

// While the window is in the tray only the event feeds circulate; the
// killed engine still shows at once, and when it is back the folder status
// is asked at once instead of at the next slow round.
TEST_F(PollerEngineDown, HiddenTheEngineDownShowsAndTheStateComesBackAtOnce) {
  poller_->FirstBatch();
  for (const std::string& url : Circulating()) poller_->Dispatch(Answer(url, "{}"));
  poller_->SetViewVisible(false);
  for (const std::string& url : Circulating()) poller_->Dispatch(Answer(url, "{}"));
  ASSERT_FALSE(poller_->Waiting().empty());

  poller_->Dispatch(Refused(poller_->WakeFeedUrl()));
  poller_->Dispatch(Refused(Rest("events/disk?since=0")));
  EXPECT_EQ(model_.folder.StatusKey(), kEngineDownStatusKey);
  scheduler_.RunAll(2000ms);  // the wake feed's retry waits for the engine too
  scheduler_.RunAll(500ms);
  const std::size_t before = requests_.submitted.size();
  poller_->Dispatch(Answer(kSystemStatus, kSystemStatusBody));
  const std::vector<std::string> released = SubmittedSince(before);
  EXPECT_NE(std::find(released.begin(), released.end(), kFolderStatus), released.end());
  poller_->Dispatch(Answer(kFolderStatus, kIdleFolder));
  EXPECT_EQ(model_.folder.StatusKey(), L"Up to date");
}

// Without a timer nothing could probe, so nothing is held: the requests go
// on as before, and the status still tells the engine is gone.
TEST_F(PollerEngineDown, WithoutATimerTheRequestsGoOnAsBefore) {
  MakePoller(nullptr);
  poller_->Dispatch(Refused(kSystemStatus));
  EXPECT_EQ(model_.folder.StatusKey(), kEngineDownStatusKey);
  ASSERT_FALSE(requests_.submitted.empty());
  EXPECT_EQ(requests_.submitted.back().url, kSystemStatus);
  EXPECT_EQ(poller_->WaitingForEngine(), 0u);
  poller_->Dispatch(Answer(kSystemStatus, kSystemStatusBody));
  EXPECT_TRUE(model_.folder.engineAnswering.load());
}

}  // namespace
}  // namespace orlin
