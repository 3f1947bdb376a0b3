// The poller's requests through the real request loop and libcurl against a
// loopback server: what reaches the server, and the URL the answer comes
// back with, which the dispatcher compares for equality with the URL it
// builds itself.

#include "monitor/loop_request_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "engine/request_loop.h"
#include "engine/rest_paths.h"
#include "monitor/answer_handlers.h"
#include "tests/support/http_test_server.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
using testsupport::HttpTestServer;
using testsupport::ScriptedAnswer;

constexpr char kDevice[] = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";

class Answers {
 public:
  void Add(const PollAnswer& answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
    changed_.notify_all();
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return answers_.size() >= count; });
  }
  std::vector<PollAnswer> All() {
    std::lock_guard lock(mutex_);
    return answers_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<PollAnswer> answers_;
};

TEST(LoopRequestSink, FolderUrlsWithReservedCharactersComeBackAsTheyWereAsked) {
  HttpTestServer server;
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "{\"state\":\"idle\"}"));
  RequestLoopOptions options;
  options.completionPacing = 0ms;
  RequestLoop loop(options);
  LoopRequestSink sink(loop, "k3y", server.BaseUrl() + "/rest/");
  Answers answers;
  sink.SetAnswerCallback([&](const PollAnswer& answer) { answers.Add(answer); });
  ASSERT_TRUE(loop.Start());

  const std::vector<std::pair<std::string, std::string>> users = {
      {"ann lee", "ann%20lee"},
      {"a+b", "a%2Bb"},
      {"o'neil & co #1 %", "o%27neil%20%26%20co%20%231%20%25"},
  };
  std::vector<std::string> asked;
  for (const auto& [user, encoded] : users) {
    const std::string folder = user + kDevice;
    asked.push_back(rest::FolderUrl(rest::kDbStatus, folder));
    asked.push_back(UnsyncedFilesUrl(folder));
    asked.push_back(rest::FolderUrl(rest::kDbCompletion, folder) + "&device=" + rest::PercentEncode(kDevice));
  }
  for (const std::string& url : asked) sink.Submit(PollRequest{url, kKindPeriodic, 0});
  ASSERT_TRUE(answers.WaitFor(asked.size(), 30s)) << "the loop did not answer every request";
  loop.Stop();

  // Whatever order the answers came in, each names exactly the URL that was
  // asked, so the dispatcher finds its handler.
  std::vector<std::string> answered;
  for (const PollAnswer& answer : answers.All()) {
    EXPECT_EQ(answer.effectiveUrl, answer.request.url);
    EXPECT_EQ(answer.body, "{\"state\":\"idle\"}") << answer.request.url;
    answered.push_back(answer.effectiveUrl);
  }
  std::sort(answered.begin(), answered.end());
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(answered, asked);

  // The server saw each name whole inside its one parameter.
  std::vector<std::string> targets;
  for (const auto& request : server.Requests()) {
    EXPECT_EQ(request.Header("X-API-Key"), "k3y");
    targets.push_back(request.target);
  }
  for (const auto& [user, encoded] : users) {
    SCOPED_TRACE(user);
    const std::string folder = "?folder=" + encoded + kDevice;
    EXPECT_NE(std::find(targets.begin(), targets.end(), "/rest/db/status" + folder), targets.end());
    EXPECT_NE(std::find(targets.begin(), targets.end(), "/rest/db/need" + folder + "&page=1&perpage=1000"),
              targets.end());
    EXPECT_NE(std::find(targets.begin(), targets.end(), "/rest/db/completion" + folder + "&device=" + kDevice),
              targets.end());
  }
}

// The poller tells an engine that is gone from one that answered badly: an
// empty or failing answer came from the engine, a cut connection or a
// refused one did not.
TEST(LoopRequestSink, OnlyTransfersWithoutAnyAnswerCountAsNoEngine) {
  HttpTestServer server;
  server.Route("/rest/empty", ScriptedAnswer::Respond(200, ""));
  server.Route("/rest/failing", ScriptedAnswer::Respond(500, "oops"));
  server.Route("/rest/cut", ScriptedAnswer::CloseEarly());
  server.Route("/rest/truncated", ScriptedAnswer::Truncated("{\"sta", 100));
  std::uint16_t closedPort = 0;
  {
    HttpTestServer gone;
    closedPort = gone.port();
  }
  RequestLoopOptions options;
  options.completionPacing = 0ms;
  RequestLoop loop(options);
  LoopRequestSink sink(loop, "k3y", server.BaseUrl() + "/rest/");
  Answers answers;
  sink.SetAnswerCallback([&](const PollAnswer& answer) { answers.Add(answer); });
  ASSERT_TRUE(loop.Start());
  const std::string base(rest::kBase);
  for (const char* endpoint : {"empty", "failing", "cut", "truncated"}) sink.Submit(PollRequest{base + endpoint});
  sink.Submit(PollRequest{"http://127.0.0.1:" + std::to_string(closedPort) + "/rest/refused"});
  ASSERT_TRUE(answers.WaitFor(5, 30s)) << "the loop did not complete every request";
  loop.Stop();

  std::map<std::string, bool> reached;
  for (const PollAnswer& answer : answers.All()) {
    reached[answer.request.url.substr(answer.request.url.rfind('/') + 1)] = answer.reachedEngine;
    if (!answer.reachedEngine) {
      EXPECT_EQ(answer.body, "") << answer.request.url;
    }
  }
  EXPECT_EQ(reached, (std::map<std::string, bool>{
                         {"empty", true}, {"failing", true}, {"cut", false}, {"truncated", false}, {"refused", false}}));
}

}  // namespace
}  // namespace orlin
