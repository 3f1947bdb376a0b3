// The poller's pace while no window shows the status, driven without a loop:
// which endpoints wait and which go on, the slow round, the wake feed, the
// fresh batch when the window shows, and folder status answers that repeat.

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

// The tasks the poller gives its timer; the test decides when they run.
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

// The status endpoints that circulate once the folder is known.
const std::vector<std::string>& WindowOnlyEndpoints() {
  static const std::vector<std::string> urls = {
      Rest("events?since=0&limit=1"), Rest("events?since=0&events=FolderCompletion"),
      Rest("stats/folder"),           Rest("system/discovery"),
      Rest("system/connections"),     Rest("system/status"),
      Rest("system/version"),         kFolderStatus,
  };
  return urls;
}

class PollerPace : public ::testing::Test {
 protected:
  PollerPace() {
    model_.folder.SetFolderId(kFolder);
    StatusPollerSetup setup;
    setup.window = &window_;
    setup.view = &view_;
    setup.scheduler = &scheduler_;
    poller_ = std::make_unique<StatusPoller>(model_, log_, requests_, clock_, setup, QuietHandlers());
  }

  // Handlers that only count; the pace does not depend on what they read.
  AnswerHandlers QuietHandlers() {
    AnswerHandlers h;
    auto count = [this](MonitorContext&, const PollAnswer&) { ++handled_; };
    h.diskEvents = h.eventStream = h.folderCompletionEvents = h.folderStatus = h.unsyncedFiles = h.failedFiles =
        h.locallyChanged = h.folderStatistics = h.folderFromConfig = h.systemStatus = h.systemVersion = h.discovery =
            h.connections = h.deviceNames = h.remoteCompletion = count;
    return h;
  }

  static PollAnswer Answer(const std::string& url, std::string body = "{}") {
    PollAnswer answer;
    answer.request.url = url;
    answer.effectiveUrl = url;
    answer.body = std::move(body);
    return answer;
  }
  // Every circulating endpoint answers once, as after the first batch.
  void AnswerEveryEndpoint() {
    for (const std::string& url : WindowOnlyEndpoints()) poller_->Dispatch(Answer(url));
  }
  std::vector<std::string> SubmittedSince(std::size_t from) const {
    std::vector<std::string> urls;
    for (std::size_t i = from; i < requests_.submitted.size(); ++i) urls.push_back(requests_.submitted[i].url);
    return urls;
  }
  std::size_t Count(const std::vector<std::string>& urls, const std::string& url) const {
    return static_cast<std::size_t>(std::count(urls.begin(), urls.end(), url));
  }
  std::string WakeUrl(const std::string& since) const {
    return Rest("events?events=StateChanged,FolderSummary,FolderErrors,FolderPaused,FolderResumed,ConfigSaved&since=") +
           since + "&timeout=60";
  }

  StatusModel model_;
  DiagnosticLog log_;
  RecordingRequests requests_;
  RecordingWindow window_;
  RecordingView view_;
  FakeClock clock_;
  ManualScheduler scheduler_;
  int handled_ = 0;
  std::unique_ptr<StatusPoller> poller_;
};

TEST_F(PollerPace, HiddenWindowOnlyEndpointsWaitForTheSlowRoundWhileTheDiskFeedGoesOn) {
  poller_->FirstBatch();
  poller_->SetViewVisible(false);
  EXPECT_EQ(scheduler_.Armed(60s), 1) << "the slow round";
  EXPECT_EQ(requests_.submitted.back().url, WakeUrl("0"));

  const std::size_t before = requests_.submitted.size();
  AnswerEveryEndpoint();
  poller_->Dispatch(Answer(Rest("events/disk?since=0"), "[]"));
  // Each answer was handled and counted, but only the disk feed and what the
  // folder status asks for itself (none here) went out again.
  EXPECT_EQ(handled_, 9);
  EXPECT_EQ(model_.poll.answerCounter, 8);
  EXPECT_EQ(window_.Count(kMsgThisDeviceRefresh), 2);
  EXPECT_EQ(SubmittedSince(before), std::vector<std::string>{Rest("events/disk?since=0")});
  const std::set<std::string> waiting(WindowOnlyEndpoints().begin(), WindowOnlyEndpoints().end());
  EXPECT_EQ(poller_->Waiting(), waiting);

  // The round asks each waiting endpoint once and arms the next round.
  const std::size_t roundStart = requests_.submitted.size();
  EXPECT_EQ(scheduler_.RunAll(60s), 1);
  const auto asked = SubmittedSince(roundStart);
  EXPECT_EQ(asked.size(), WindowOnlyEndpoints().size());
  for (const std::string& url : WindowOnlyEndpoints()) EXPECT_EQ(Count(asked, url), 1u) << url;
  EXPECT_TRUE(poller_->Waiting().empty());
  EXPECT_EQ(scheduler_.Armed(60s), 1);
  // Their answers wait again: nothing circulates at full pace.
  AnswerEveryEndpoint();
  EXPECT_EQ(requests_.submitted.size(), roundStart + asked.size());
}

TEST_F(PollerPace, WakeFeedAsksTheFolderStatusAtOnceFollowsItsCursorAndBacksOffWithoutEngine) {
  poller_->FirstBatch();
  poller_->SetViewVisible(false);
  AnswerEveryEndpoint();
  ASSERT_TRUE(poller_->Waiting().count(kFolderStatus));

  // The engine reports a change: the folder status goes out at once (the
  // messages the hidden program owes follow from its answer).
  std::size_t mark = requests_.submitted.size();
  poller_->Dispatch(Answer(WakeUrl("0"), R"([{"id":5,"type":"StateChanged"},{"id":7,"type":"FolderSummary"}])"));
  EXPECT_EQ(SubmittedSince(mark), (std::vector<std::string>{kFolderStatus, WakeUrl("7")}));
  EXPECT_FALSE(poller_->Waiting().count(kFolderStatus));
  EXPECT_EQ(model_.poll.answerCounter, 8) << "the wake feed is no status answer";

  // Nothing happened for a minute: only the feed again, from the same place.
  mark = requests_.submitted.size();
  poller_->Dispatch(Answer(WakeUrl("7"), "[]"));
  EXPECT_EQ(SubmittedSince(mark), std::vector<std::string>{WakeUrl("7")});

  // No engine: no busy loop, the feed is asked from the start a little
  // later, with the system status, whose start time restarts the disk feed.
  mark = requests_.submitted.size();
  poller_->Dispatch(Answer(WakeUrl("7"), ""));
  EXPECT_TRUE(SubmittedSince(mark).empty());
  EXPECT_EQ(scheduler_.RunAll(2s), 1);
  EXPECT_EQ(SubmittedSince(mark), (std::vector<std::string>{WakeUrl("0"), Rest("system/status")}));
  // A broken answer the same way.
  mark = requests_.submitted.size();
  poller_->Dispatch(Answer(WakeUrl("0"), "CSRF Error"));
  EXPECT_TRUE(SubmittedSince(mark).empty());
  EXPECT_EQ(scheduler_.Armed(2s), 1);
}

TEST_F(PollerPace, ShowingAsksEverythingThatWaitedVisibleLabelsFirstAndTheFullPaceReturns) {
  poller_->FirstBatch();
  poller_->SetViewVisible(false);
  AnswerEveryEndpoint();
  model_.poll.answerCounter = 12;

  const std::size_t mark = requests_.submitted.size();
  poller_->SetViewVisible(true);
  const auto asked = SubmittedSince(mark);
  ASSERT_EQ(asked.size(), WindowOnlyEndpoints().size());
  EXPECT_EQ(asked[0], kFolderStatus);
  EXPECT_EQ(asked[1], Rest("system/connections"));
  EXPECT_EQ(asked[2], Rest("system/status"));
  for (const std::string& url : WindowOnlyEndpoints()) EXPECT_EQ(Count(asked, url), 1u) << url;
  EXPECT_TRUE(poller_->Waiting().empty());
  EXPECT_GE(model_.poll.answerCounter, 50) << "the first folder status answer refreshes the totals";

  // The round armed while hidden finds nothing to do; the wake feed still
  // on its way is not asked again; every answer is asked again at once.
  EXPECT_EQ(scheduler_.RunAll(60s), 1);
  EXPECT_EQ(requests_.submitted.size(), mark + asked.size());
  poller_->Dispatch(Answer(WakeUrl("0"), R"([{"id":3}])"));
  EXPECT_EQ(requests_.submitted.size(), mark + asked.size());
  AnswerEveryEndpoint();
  EXPECT_EQ(requests_.submitted.size(), mark + 2 * asked.size());
  EXPECT_TRUE(poller_->Waiting().empty());

  // Hidden again: a new wake feed and a new round, nothing else at once.
  poller_->SetViewVisible(false);
  EXPECT_EQ(requests_.submitted.back().url, WakeUrl("0"));
  EXPECT_EQ(scheduler_.Armed(60s), 1);
  poller_->SetViewVisible(false);  // repeated: changes nothing
  EXPECT_EQ(scheduler_.Armed(60s), 1);
}

TEST_F(PollerPace, SettingsPauseKeepsTheFolderStatusAtFullPaceUntilTheEngineReportsIt) {
  poller_->FirstBatch();
  poller_->SetViewVisible(false);
  poller_->SettingsPauseBegins();
  const std::size_t mark = requests_.submitted.size();
  poller_->Dispatch(Answer(kFolderStatus));
  poller_->Dispatch(Answer(Rest("system/connections")));
  EXPECT_EQ(SubmittedSince(mark), std::vector<std::string>{kFolderStatus});
  // Reported (the folder status parser moves 8 on to 9): the slow pace again.
  model_.folder.pauseParameter.store(9);
  poller_->Dispatch(Answer(kFolderStatus));
  EXPECT_EQ(SubmittedSince(mark), std::vector<std::string>{kFolderStatus});
  EXPECT_TRUE(poller_->Waiting().count(kFolderStatus));
}

TEST_F(PollerPace, StartingHiddenKeepsTheFirstBatchThenWaits) {
  poller_->SetViewVisible(false);  // before any loop: applied at once
  EXPECT_EQ(requests_.submitted.back().url, WakeUrl("0"));
  const std::size_t mark = requests_.submitted.size();
  poller_->FirstBatch();
  EXPECT_EQ(Count(SubmittedSince(mark), Rest("system/status")), 1u);
  poller_->Dispatch(Answer(Rest("system/status")));
  EXPECT_TRUE(poller_->Waiting().count(Rest("system/status")));
}

// With the real handlers: a folder status answer that repeats the previous
// one is not parsed again, yet every answer still counts.
TEST(PollerRepeats, RepeatedFolderStatusReusesItsParseAndStillSamplesAndCounts) {
  StatusModel model;
  DiagnosticLog log;
  RecordingRequests requests;
  RecordingWindow window;
  RecordingView view;
  FakeClock clock;
  model.folder.SetFolderId(kFolder);
  StatusPollerSetup setup;
  setup.window = &window;
  setup.view = &view;
  StatusPoller poller(model, log, requests, clock, setup);
  auto answer = [&](const std::string& body) {
    PollAnswer a;
    a.request.url = a.effectiveUrl = kFolderStatus;
    a.body = body;
    poller.Dispatch(a);
  };
  const std::string half =
      R"({"state":"syncing","globalBytes":1000,"inSyncBytes":500,"globalFiles":4,"needFiles":2,"localFiles":3})";

  // Ten equal answers: the percent moves at the tenth, as with ten parses.
  for (int i = 0; i < 10; ++i) answer(half);
  EXPECT_EQ(model.folder.folderPercent.load(), 50);
  EXPECT_EQ(window.Count(kMsgTotalsChanged), 10);
  EXPECT_EQ(model.poll.answerCounter, 10);

  // What the repeat uses is what the first answer read (seen by changing
  // it behind the poller's back); a new text is read anew.
  model.poll.folderStatus.localFiles = 99;
  model.poll.answerCounter = 50;
  answer(half);
  EXPECT_EQ(model.Summary().fileCountText, L"99");
  answer(R"({"state":"idle","globalBytes":1000,"inSyncBytes":1000,"globalFiles":4,"needFiles":0,"localFiles":4})");
  EXPECT_EQ(model.poll.folderStatus.localFiles, 4u);
  EXPECT_EQ(model.folder.FolderStateText(), "idle");

  // A broken answer is never replaced by an older parse when it repeats.
  answer("{broken");
  answer("{broken");
  EXPECT_FALSE(model.poll.folderStatusRead);
  EXPECT_EQ(window.Count(kMsgTotalsChanged), 12);
}

}  // namespace
}  // namespace orlin
