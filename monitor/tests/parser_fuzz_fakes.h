#pragma once
// Recording fakes of the parsers' collaborators, and the captured engine
// answers the parser tests replay.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "tests/support/fake_clock.h"
#include "monitor/monitor_context.h"

namespace orlin::testing {

inline std::string Fixture(const char* name) {
  std::string text;
  ReadWholeFile(std::filesystem::path(__FILE__).parent_path() / "fixtures" / name, text);
  return text;
}

class RecordingRequests final : public RequestSink {
 public:
  void Submit(const PollRequest& request) override { submitted.push_back(request); }
  void PostJson(const std::string& url, const std::string& body) override { posted.push_back(url + "\n" + body); }
  std::vector<PollRequest> submitted;
  std::vector<std::string> posted;
};

class RecordingWindow final : public OwnerWindow {
 public:
  struct Message {
    unsigned id;
    std::uintptr_t wParam;
    bool sent;
  };
  void Post(unsigned message, std::uintptr_t wParam, std::intptr_t) override { messages.push_back({message, wParam, false}); }
  std::intptr_t Send(unsigned message, std::uintptr_t wParam, std::intptr_t) override {
    messages.push_back({message, wParam, true});
    return 0;
  }
  int Count(unsigned id) const {
    int n = 0;
    for (const Message& m : messages) n += m.id == id ? 1 : 0;
    return n;
  }
  std::vector<Message> messages;
};

class RecordingView final : public StatusView {
 public:
  void SetStatusLabel(const std::wstring& key) override { labels.push_back(key); }
  void SetProgress(std::int32_t percent) override { progress.push_back(percent); }
  std::vector<std::wstring> labels;
  std::vector<std::int32_t> progress;
};

using FakeClock = orlin::testing::FakeClock;

// One model with every collaborator faked; `ctx` is what the poller hands a
// parser.
struct ParserHarness {
  StatusModel model;
  std::vector<std::string> fileLines;
  FakeClock clock;
  DiagnosticLog log{[this](std::string_view line) { fileLines.emplace_back(line); }, &clock};
  RecordingRequests requests;
  RecordingWindow window;
  RecordingView view;
  MonitorContext ctx{model, log, requests, clock, &window, &view};

  ParserHarness() { ctx.rateStopwatch = clock.steady; }

  static PollAnswer Answer(std::string body, std::string url = {}) {
    PollAnswer answer;
    answer.request.url = url;
    answer.effectiveUrl = std::move(url);
    answer.body = std::move(body);
    return answer;
  }
  std::vector<std::string> LogMessages() const {
    std::vector<std::string> out;
    for (const LogEntry& entry : log.Entries()) out.emplace_back(entry.message);
    return out;
  }
  std::string LastLog() const {
    auto all = LogMessages();
    return all.empty() ? std::string() : all.back();
  }
};

}  // namespace orlin::testing
