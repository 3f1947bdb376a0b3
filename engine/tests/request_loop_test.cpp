#include "engine/request_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <stdexcept>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/http_test_server.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
using testsupport::HttpTestServer;
using testsupport::ScriptedAnswer;
using Clock = std::chrono::steady_clock;

// What a completion saw, copied out of the loop thread.
struct Completed {
  std::string url;
  std::string effectiveUrl;
  std::string response;
  RestTransferStatus status = RestTransferStatus::kPending;
  long httpStatus = 0;
  std::int32_t kind = 0;
  std::int32_t parameter = 0;
  bool onLoopThread = false;
  Clock::time_point at;
};

// Collects completions and lets the test wait for them.
class Collector {
 public:
  explicit Collector(RequestLoop& loop) : loop_(loop) {}

  std::unique_ptr<RestRequest> Make(const std::string& url, std::int32_t kind = 0, std::int32_t parameter = 0) {
    auto r = std::make_unique<RestRequest>();
    r->url = url;
    r->apiKey = "test-key";
    r->kind = kind;
    r->parameter = parameter;
    r->onComplete = [this](RestRequest& request, const std::string& effectiveUrl) {
      Completed c{request.url,       effectiveUrl,   request.response,  request.status,
                  request.httpStatus, request.kind,  request.parameter, loop_.IsLoopThread(),
                  Clock::now()};
      std::lock_guard lock(mutex_);
      done_.push_back(std::move(c));
      changed_.notify_all();
    };
    return r;
  }

  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done_.size() >= count; });
  }

  std::vector<Completed> Done() {
    std::lock_guard lock(mutex_);
    return done_;
  }

 private:
  RequestLoop& loop_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Completed> done_;
};

RequestLoopOptions Unpaced() {
  RequestLoopOptions o;
  o.completionPacing = 0ms;
  return o;
}

std::uint16_t ClosedPort() {
  std::uint16_t port;
  {
    HttpTestServer server;
    port = server.port();
  }
  return port;
}

TEST(RequestLoop, GetCompletesOnTheLoopThreadWithBodyKindAndEffectiveUrl) {
  HttpTestServer server;
  server.Route("/rest/system/status", ScriptedAnswer::Respond(200, R"({"myID":"X"})"));
  RequestLoop loop(Unpaced());
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());

  const std::string url = server.BaseUrl() + "/rest/system/status";
  ASSERT_TRUE(loop.Submit(collector.Make(url, 6, 4)));
  ASSERT_TRUE(collector.WaitFor(1));

  const Completed c = collector.Done().front();
  EXPECT_EQ(c.response, R"({"myID":"X"})");
  EXPECT_EQ(c.status, RestTransferStatus::kAnswered);
  EXPECT_EQ(c.httpStatus, 200);
  EXPECT_EQ(c.effectiveUrl, url);
  EXPECT_EQ(c.kind, 6);
  EXPECT_EQ(c.parameter, 4);
  EXPECT_TRUE(c.onLoopThread);
  EXPECT_FALSE(loop.IsLoopThread());

  const auto request = server.Requests().front();
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.Header("X-API-Key"), "test-key");
  EXPECT_EQ(request.body, "");
  // The key is the one header the loop adds on top of what HTTP needs.
  for (const std::string& name : request.HeaderNames()) {
    EXPECT_TRUE(name == "Host" || name == "Accept" || name == "X-API-Key") << name;
  }
}

TEST(RequestLoop, PostSendsItsBody) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "done"));
  RequestLoop loop(Unpaced());
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());

  auto small = collector.Make(server.BaseUrl() + "/rest/system/config");
  small->body = R"({"folders":[]})";
  // A body far larger than a socket buffer keeps the socket polled for writing.
  auto large = collector.Make(server.BaseUrl() + "/rest/system/config");
  large->body = std::string(8 * 1024 * 1024, 'j');
  ASSERT_TRUE(loop.Submit(std::move(small)));
  ASSERT_TRUE(loop.Submit(std::move(large)));
  ASSERT_TRUE(collector.WaitFor(2));

  for (const Completed& c : collector.Done()) EXPECT_EQ(c.response, "done");
  std::vector<std::size_t> sizes;
  for (const auto& r : server.Requests()) {
    EXPECT_EQ(r.method, "POST");
    sizes.push_back(r.body.size());
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{14, 8u * 1024 * 1024}));

  // The loop reuses the handles of completed transfers: a GET after the
  // POSTs carries nothing of them.
  auto get = collector.Make(server.BaseUrl() + "/rest/system/status");
  ASSERT_TRUE(loop.Submit(std::move(get)));
  ASSERT_TRUE(collector.WaitFor(3));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests.back().method, "GET");
  EXPECT_EQ(requests.back().target, "/rest/system/status");
  EXPECT_EQ(requests.back().body, "");
  EXPECT_EQ(requests.back().Header("X-API-Key"), "test-key");
}

TEST(RequestLoop, FailedTransfersCompleteWithWhateverArrived) {
  HttpTestServer server;
  server.Route("/missing", ScriptedAnswer::Respond(404, "no such endpoint"));
  server.Route("/early", ScriptedAnswer::CloseEarly());
  server.Route("/truncated", ScriptedAnswer::Truncated("[{\"id\":1", 500));
  RequestLoop loop(Unpaced());
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());

  const std::string refused = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/rest/events";
  for (const std::string& url : {server.BaseUrl() + "/missing", server.BaseUrl() + "/early",
                                 server.BaseUrl() + "/truncated", refused}) {
    ASSERT_TRUE(loop.Submit(collector.Make(url)));
  }
  ASSERT_TRUE(collector.WaitFor(4));

  std::map<std::string, Completed> byUrl;
  for (const Completed& c : collector.Done()) byUrl[c.url] = c;
  const Completed& missing = byUrl[server.BaseUrl() + "/missing"];
  EXPECT_EQ(missing.status, RestTransferStatus::kAnswered);
  EXPECT_EQ(missing.httpStatus, 404);
  EXPECT_EQ(missing.response, "no such endpoint");
  const Completed& early = byUrl[server.BaseUrl() + "/early"];
  EXPECT_EQ(early.status, RestTransferStatus::kTransferFailed);
  EXPECT_EQ(early.response, "");
  const Completed& truncated = byUrl[server.BaseUrl() + "/truncated"];
  EXPECT_EQ(truncated.status, RestTransferStatus::kTransferFailed);
  EXPECT_EQ(truncated.response, "[{\"id\":1");
  const Completed& down = byUrl[refused];
  EXPECT_EQ(down.status, RestTransferStatus::kConnectFailed);
  EXPECT_EQ(down.response, "");
  EXPECT_EQ(loop.GetCounters().completed, 4u);
  EXPECT_EQ(loop.GetCounters().inFlight, 0u);
}

TEST(RequestLoop, SlowUnsupportedAndUnreachableRequestsAllComplete) {
  HttpTestServer server;
  server.Route("/slow", ScriptedAnswer::Slow(300ms, "late"));
  testsupport::BlackholeListener blackhole;
  if (!blackhole.ok()) GTEST_SKIP() << "connections to a full accept queue are refused here, not ignored";
  RequestLoopOptions options = Unpaced();
  options.connectTimeout = 300ms;
  RequestLoop loop(options);
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());

  const std::string slow = server.BaseUrl() + "/slow";
  const std::string ftp = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/file";
  const std::string unreachable = "http://127.0.0.1:" + std::to_string(blackhole.port()) + "/rest/system/status";
  for (const std::string& url : {slow, ftp, unreachable}) ASSERT_TRUE(loop.Submit(collector.Make(url)));
  ASSERT_TRUE(collector.WaitFor(3));

  std::map<std::string, Completed> byUrl;
  for (const Completed& c : collector.Done()) byUrl[c.url] = c;
  EXPECT_EQ(byUrl[slow].status, RestTransferStatus::kAnswered);
  EXPECT_EQ(byUrl[slow].response, "late");
  EXPECT_EQ(byUrl[ftp].status, RestTransferStatus::kTransferFailed);
  EXPECT_EQ(byUrl[unreachable].status, RestTransferStatus::kTimedOut);
  EXPECT_EQ(server.RequestCount(), 1u);  // nothing but the slow request reached a server
}

TEST(RequestLoop, SilentAndEndlessAnswersEndAndMemoryStaysBounded) {
  HttpTestServer server;
  server.Route("/silent", ScriptedAnswer::NeverAnswer());
  server.Route("/endless", ScriptedAnswer::Huge(1024ull * 1024 * 1024));
  server.Route("/fine", ScriptedAnswer::Respond(200, std::string(512 * 1024, 'f')));
  RequestLoopOptions options = Unpaced();
  options.stallTimeout = 3s;
  options.maxAnswerBytes = 1024 * 1024;
  RequestLoop loop(options);
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());

  for (const char* target : {"/silent", "/endless", "/fine"}) {
    ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + target)));
  }
  ASSERT_TRUE(collector.WaitFor(3, 30s));

  std::map<std::string, Completed> byUrl;
  for (const Completed& c : collector.Done()) byUrl[c.url] = c;
  EXPECT_EQ(byUrl[server.BaseUrl() + "/silent"].status, RestTransferStatus::kTimedOut);
  const Completed& endless = byUrl[server.BaseUrl() + "/endless"];
  EXPECT_EQ(endless.status, RestTransferStatus::kTooLarge);
  EXPECT_EQ(endless.response, "");
  // The transfer was abandoned soon after the cap, not read to the end.
  EXPECT_LT(server.HugeBytesSent(), 64ull * 1024 * 1024);
  EXPECT_EQ(byUrl[server.BaseUrl() + "/fine"].response.size(), 512u * 1024);
}

TEST(RequestLoop, PacingHandsOutAtMostOneCompletionPerPeriod) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "{}"));
  RequestLoop loop;  // the product's 100 ms
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());

  const auto submitted = Clock::now();
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/rest/stats/folder")));
  ASSERT_TRUE(collector.WaitFor(6));

  const auto done = collector.Done();
  EXPECT_GE(done.front().at - submitted, 95ms);
  for (std::size_t i = 1; i < done.size(); ++i) {
    EXPECT_GE(done[i].at - done[i - 1].at, 95ms) << "completion " << i;
  }
}

// The pause follows each completion: a completion that takes its time (a
// large answer parsed) does not shorten the pause before the next one.
TEST(RequestLoop, ThePauseCountsFromTheEndOfTheCompletionBefore) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "{}"));
  RequestLoop loop;  // the product's 100 ms
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<Clock::time_point, Clock::time_point>> spans;  // entered, left
  ASSERT_TRUE(loop.Start());
  for (int i = 0; i < 4; ++i) {
    auto r = std::make_unique<RestRequest>();
    r->url = server.BaseUrl() + "/rest/db/status";
    r->onComplete = [&](RestRequest&, const std::string&) {
      const auto entered = Clock::now();
      std::this_thread::sleep_for(40ms);
      std::lock_guard lock(mutex);
      spans.emplace_back(entered, Clock::now());
      changed.notify_all();
    };
    ASSERT_TRUE(loop.Submit(std::move(r)));
  }
  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, 120s, [&] { return spans.size() == 4; })) << "waited 120 s for four completions";
  for (std::size_t i = 1; i < spans.size(); ++i) {
    EXPECT_GE(spans[i].first - spans[i - 1].second, 95ms) << "pause before completion " << i;
  }
}

// While completions wait for their pacing tick the loop does not watch its
// sockets; what arrives meanwhile is read at the next tick. Nothing may be
// lost or held back by that: answers that come while others wait, a slow
// one among them, and one that comes when nothing waits (a long poll) are
// all completed with their bodies, at the pace, and the poll's re-requests
// reuse their connections instead of opening one per request.
TEST(RequestLoop, PacedAnswersArrivingWhileOthersWaitAreAllCompletedOnKeptConnections) {
  HttpTestServer server;
  server.SetHandler([](const testsupport::ReceivedRequest& r) {
    if (r.target.find("/slow") != std::string::npos) return ScriptedAnswer::Slow(150ms, "slow body");
    if (r.target.find("/poll") != std::string::npos) return ScriptedAnswer::Slow(1200ms, "[{\"id\":7}]");
    return ScriptedAnswer::Respond(200, "answer of " + r.target);
  });
  RequestLoop loop;  // the product's 100 ms
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());
  const auto submitted = Clock::now();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/fast/" + std::to_string(i))));
  ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/slow")));
  ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/poll")));
  ASSERT_TRUE(collector.WaitFor(6, 120s)) << "waited 120 s for six completions, got " << collector.Done().size();

  const auto done = collector.Done();
  std::map<std::string, Completed> byUrl;
  for (const auto& c : done) byUrl[c.url] = c;
  for (int i = 0; i < 4; ++i) {
    const std::string url = server.BaseUrl() + "/fast/" + std::to_string(i);
    EXPECT_EQ(byUrl[url].response, "answer of /fast/" + std::to_string(i));
  }
  EXPECT_EQ(byUrl[server.BaseUrl() + "/slow"].response, "slow body");
  EXPECT_EQ(byUrl[server.BaseUrl() + "/poll"].status, RestTransferStatus::kAnswered);
  EXPECT_EQ(byUrl[server.BaseUrl() + "/poll"].response, "[{\"id\":7}]");
  for (std::size_t i = 1; i < done.size(); ++i) {
    EXPECT_GE(done[i].at - done[i - 1].at, 95ms) << "completion " << i;
  }
  // The long poll answered after everything else was handed out: it is
  // completed one pacing period after it arrived, not a tick that never
  // comes (a loop that waits for nothing sleeps until something arrives).
  EXPECT_EQ(done.back().url, server.BaseUrl() + "/poll");
  EXPECT_LT(done.back().at - submitted, 1200ms + 100ms + 2s);

  // Circulating like the poll: each answer asks the same URL again.
  const std::size_t connectionsBefore = server.ConnectionCount();
  std::atomic<int> rounds{0};
  const std::string url = server.BaseUrl() + "/rest/system/status";
  std::function<void(RestRequest&, const std::string&)> again = [&](RestRequest&, const std::string&) {
    if (++rounds >= 12) return;
    auto next = std::make_unique<RestRequest>();
    next->url = url;
    next->onComplete = again;
    EXPECT_TRUE(loop.Submit(std::move(next)));
  };
  for (int i = 0; i < 3; ++i) {
    auto first = std::make_unique<RestRequest>();
    first->url = url;
    first->onComplete = again;
    ASSERT_TRUE(loop.Submit(std::move(first)));
  }
  const auto deadline = Clock::now() + 120s;
  while (rounds < 14 && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(rounds.load(), 14) << "waited 120 s for the circulating requests";
  EXPECT_LE(server.ConnectionCount() - connectionsBefore, 3u) << "a connection per request instead of kept ones";
  EXPECT_TRUE(loop.Stop());
}

TEST(RequestLoop, CompletionsMayResubmitAndSubmissionsComeFromAnyThread) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "{}"));
  RequestLoop loop(Unpaced());
  std::atomic<int> rounds{0};
  std::atomic<int> others{0};
  const std::string url = server.BaseUrl() + "/rest/system/connections";
  // Like the poller: the answer of an endpoint re-requests the same URL.
  std::function<void(RestRequest&, const std::string&)> again = [&](RestRequest&, const std::string&) {
    if (++rounds < 50) {
      auto next = std::make_unique<RestRequest>();
      next->url = url;
      next->onComplete = again;
      EXPECT_TRUE(loop.Submit(std::move(next)));
    }
  };
  ASSERT_TRUE(loop.Start([&] {
    auto first = std::make_unique<RestRequest>();
    first->url = url;
    first->onComplete = again;
    EXPECT_TRUE(loop.IsLoopThread());
    EXPECT_TRUE(loop.Submit(std::move(first)));
  }));
  EXPECT_FALSE(loop.Start());  // already running

  std::vector<std::thread> submitters;
  for (int t = 0; t < 4; ++t) {
    submitters.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        auto r = std::make_unique<RestRequest>();
        r->url = server.BaseUrl() + "/rest/system/status";
        r->onComplete = [&](RestRequest&, const std::string&) { ++others; };
        EXPECT_TRUE(loop.Submit(std::move(r)));
      }
    });
  }
  for (auto& t : submitters) t.join();
  const auto deadline = Clock::now() + 20s;
  while ((rounds < 50 || others < 100) && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(rounds.load(), 50);
  EXPECT_EQ(others.load(), 100);
  EXPECT_TRUE(loop.Stop());
}

TEST(RequestLoop, TasksRunOnTheLoopThreadAfterTheirDelayAndWaitingOnesGoUnrunAtStop) {
  RequestLoop loop;
  EXPECT_FALSE(loop.RunAfter(0ms, [] {}));  // not started
  ASSERT_TRUE(loop.Start());

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<int, Clock::duration>> ran;
  std::atomic<bool> allOnLoopThread{true};
  const auto since = Clock::now();
  auto record = [&](int id) {
    return [&, id] {
      if (!loop.IsLoopThread()) allOnLoopThread = false;
      std::lock_guard lock(mutex);
      ran.emplace_back(id, Clock::now() - since);
      changed.notify_all();
    };
  };
  ASSERT_TRUE(loop.RunAfter(300ms, record(2)));
  ASSERT_TRUE(loop.RunAfter(0ms, record(1)));
  // Never due while the test runs: it must be dropped unrun, and what it
  // holds released, when the loop stops.
  auto held = std::make_shared<int>(7);
  std::weak_ptr<int> watch = held;
  ASSERT_TRUE(loop.RunAfter(std::chrono::hours(1), [held, &ran] { ran.emplace_back(99, Clock::duration{}); }));
  held.reset();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return ran.size() >= 2; })) << "the two due tasks did not run";
    EXPECT_EQ(ran[0].first, 1);
    EXPECT_EQ(ran[1].first, 2);
    EXPECT_GE(ran[1].second, 290ms);
  }
  EXPECT_TRUE(allOnLoopThread.load());
  EXPECT_EQ(loop.GetCounters().tasksWaiting, 1u);
  EXPECT_TRUE(loop.Stop());
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(ran.size(), 2u);
}

TEST(RequestLoop, StopDropsWorkInFlightAndStartBeginsAfresh) {
  HttpTestServer server;
  server.Route("/silent", ScriptedAnswer::NeverAnswer());
  server.Route("/ok", ScriptedAnswer::Respond(200, "ok"));
  RequestLoop loop;
  Collector collector(loop);

  EXPECT_FALSE(loop.Submit(collector.Make(server.BaseUrl() + "/ok")));  // not started
  ASSERT_TRUE(loop.Start());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/silent")));
  // Finished but still waiting for its paced completion when the stop comes.
  ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/ok")));
  ASSERT_TRUE(server.WaitForRequests(4, 5s));
  EXPECT_TRUE(loop.Stop());
  EXPECT_FALSE(loop.IsRunning());
  EXPECT_FALSE(loop.Submit(collector.Make(server.BaseUrl() + "/ok")));
  EXPECT_TRUE(collector.Done().empty());
  EXPECT_TRUE(loop.Stop());  // stopping a stopped loop is harmless

  ASSERT_TRUE(loop.Start());
  EXPECT_TRUE(loop.IsRunning());
  ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/ok")));
  ASSERT_TRUE(collector.WaitFor(1));
  EXPECT_EQ(collector.Done().front().response, "ok");
}

TEST(RequestLoop, StopFromACompletionEndsTheLoopWithoutWaitingForItself) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "ok"));
  RequestLoop loop(Unpaced());
  std::atomic<bool> stopResult{true};
  std::atomic<bool> called{false};
  ASSERT_TRUE(loop.Start());
  auto r = std::make_unique<RestRequest>();
  r->url = server.BaseUrl() + "/x";
  r->onComplete = [&](RestRequest&, const std::string&) {
    stopResult = loop.Stop();
    called = true;
    throw std::runtime_error("a throwing completion must not take the loop down");
  };
  ASSERT_TRUE(loop.Submit(std::move(r)));
  const auto deadline = Clock::now() + 10s;
  while (!called && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(called);
  EXPECT_FALSE(stopResult);
  EXPECT_FALSE(loop.IsRunning());
  // Start waits for the old thread to end and begins a new loop.
  ASSERT_TRUE(loop.Start());
  Collector collector(loop);
  ASSERT_TRUE(loop.Submit(collector.Make(server.BaseUrl() + "/y")));
  EXPECT_TRUE(collector.WaitFor(1));
}

TEST(RequestLoop, StuckCompletionMakesStopGiveUpAtItsDeadlineSafely) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "ok"));
  auto loop = std::make_unique<RequestLoop>(Unpaced());
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, release = false;
  ASSERT_TRUE(loop->Start());
  auto r = std::make_unique<RestRequest>();
  r->url = server.BaseUrl() + "/x";
  r->onComplete = [&](RestRequest&, const std::string&) {
    std::unique_lock lock(m);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  };
  ASSERT_TRUE(loop->Submit(std::move(r)));
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return entered; }));
  }
  EXPECT_FALSE(loop->Stop(200ms));
  EXPECT_FALSE(loop->IsRunning());
  // The object can start over, and be destroyed, while the old thread is stuck.
  ASSERT_TRUE(loop->Start());
  EXPECT_TRUE(loop->Stop());
  loop.reset();
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  // Give the released thread a moment to finish before `m` goes away.
  std::this_thread::sleep_for(200ms);
}

TEST(RequestLoop, StartingAndStoppingManyTimesWhileBusyNeverHangs) {
  HttpTestServer server;
  server.Route("/silent", ScriptedAnswer::NeverAnswer());
  server.Route("/slow", ScriptedAnswer::Slow(20ms, "slow"));
  server.Route("/ok", ScriptedAnswer::Respond(200, "ok"));
  // The budget only guards against a hang; it says nothing about speed.
  const auto budget = Clock::now() + 120s;
  std::atomic<int> completions{0};
  for (int i = 0; i < 150 && Clock::now() < budget; ++i) {
    RequestLoopOptions options;
    options.completionPacing = std::chrono::milliseconds(i % 3);
    auto loop = std::make_unique<RequestLoop>(options);
    ASSERT_TRUE(loop->Start());
    for (const char* target : {"/silent", "/slow", "/ok", "/ok"}) {
      auto r = std::make_unique<RestRequest>();
      r->url = server.BaseUrl() + target;
      r->onComplete = [&](RestRequest&, const std::string&) { ++completions; };
      loop->Submit(std::move(r));
    }
    if (i % 4 == 0) std::this_thread::sleep_for(i == 0 ? 500ms : 5ms);  // round 0 lets answers arrive, also under Wine
    if (i % 2 == 0) {
      EXPECT_TRUE(loop->Stop());
      if (i % 8 == 0) {
        ASSERT_TRUE(loop->Start());
        EXPECT_TRUE(loop->Stop());
      }
    }
    loop.reset();  // odd rounds: destroyed while busy
  }
  EXPECT_LT(Clock::now(), budget) << "the loop hung while starting or stopping";
  EXPECT_GT(completions.load(), 0);
}

TEST(RequestLoop, ProxyFromTheEnvironmentIsNotUsed) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "direct"));
  const std::string deadProxy = "http://127.0.0.1:" + std::to_string(ClosedPort());
  testsupport::ScopedEnvironmentVariable proxy("http_proxy", deadProxy);
  RequestLoop loop(Unpaced());
  Collector collector(loop);
  ASSERT_TRUE(loop.Start());
  ASSERT_TRUE(loop.Submit(collector.Make(server.LocalhostUrl() + "/rest/system/version")));
  ASSERT_TRUE(collector.WaitFor(1));
  EXPECT_EQ(collector.Done().front().response, "direct");
}

}  // namespace
}  // namespace orlin
