#pragma once
// What the status parsers need from outside: where requests go, where results
// are shown, the clock and the log. The poller builds one MonitorContext and
// hands it to every parser; tests build one from fakes.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/owner_window.h"
#include "engine/rest_paths.h"
#include "monitor/diagnostic_log.h"
#include "monitor/status_model.h"

namespace orlin {

struct ParseMemos;  // monitor/parse_memo.h

// Request kinds of the poller's GETs; the kind travels with the request and
// decides what the completion does with the answer.
enum RequestKind : std::int32_t {
  kKindPeriodic = 0,
  kKindManualRefresh = 1,
  kKindPause = 3,
  kKindResume = 4,
  kKindFolderDiscovery = 6,
  kKindDeviceNames = 7,
};

// One asynchronous GET for the request loop. The loop adds the key header.
struct PollRequest {
  std::string url;
  std::int32_t kind = kKindPeriodic;
  std::int32_t parameter = 0;
};

// A finished request as the loop hands it back. A failed transfer has an
// empty body. `effectiveUrl` is empty when the transport could not tell it.
struct PollAnswer {
  PollRequest request;
  std::string effectiveUrl;
  std::string body;
  // False when no answer came from the engine at all (connection refused or
  // cut, or nothing for the stall time): no engine runs, or none answers.
  // An empty or unreadable answer of a running engine is still an answer.
  bool reachedEngine = true;
};

// Where the poller's requests go. Threads: Submit may be called from any
// thread; the implementation hands the request to the loop thread.
class RequestSink {
 public:
  virtual ~RequestSink() = default;
  virtual void Submit(const PollRequest& request) = 0;
  // Blocking POST of a JSON body with the key header; the result is not
  // examined. Called on the worker thread.
  virtual void PostJson(const std::string& url, const std::string& body) = 0;
};

// Runs poller work on the request loop thread, now or later: the hidden
// pace's timer and the wake-up of a loop that has no answer due soon.
// Threads: RunAfter may be called from any thread; the task runs on the
// request loop thread.
class PollScheduler {
 public:
  virtual ~PollScheduler() = default;
  // Runs `task` once `delay` has passed. False, and the task dropped, when
  // the loop does not run; a task still waiting when the loop stops is
  // dropped unrun.
  virtual bool RunAfter(std::chrono::milliseconds delay, std::function<void()> task) = 0;
};

// The two direct calls on the main window: the status label key and the
// progress value. Called on the worker thread; the implementation hops to the
// UI thread.
class StatusView {
 public:
  virtual ~StatusView() = default;
  virtual void SetStatusLabel(const std::wstring& key) = 0;
  virtual void SetProgress(std::int32_t percent) = 0;
};

struct MonitorContext {
  StatusModel& model;
  DiagnosticLog& log;
  RequestSink& requests;
  Clock& clock;
  OwnerWindow* window = nullptr;  // no message while unset
  StatusView* view = nullptr;     // no direct call while unset

  // Start of the current transfer-rate interval.
  std::chrono::steady_clock::time_point rateStopwatch{};
  // Set by the dispatcher while a handler runs on an answer whose body is
  // the same as the previous answer of its endpoint: a handler may then
  // take what it read from that answer instead of parsing again.
  bool answerRepeats = false;
  // The handlers' kept parses (monitor/parse_memo.h), made on first use.
  std::shared_ptr<ParseMemos> parseMemos{};

  void Get(std::string url, std::int32_t kind = kKindPeriodic, std::int32_t parameter = 0) {
    requests.Submit(PollRequest{std::move(url), kind, parameter});
  }
  // A system/config fetch; remembers its kind.
  void FetchConfig(std::int32_t kind, std::int32_t parameter = 0) {
    model.folder.lastConfigKind.store(kind);
    Get(rest::Url(rest::kSystemConfig), kind, parameter);
  }
  void Post(unsigned message, std::uint64_t wParam = 0) {
    if (window != nullptr) window->Post(message, static_cast<std::uintptr_t>(wParam), 0);
  }
  void Send(unsigned message, std::uint64_t wParam = 0) {
    if (window != nullptr) window->Send(message, static_cast<std::uintptr_t>(wParam), 0);
  }
  // The model learns the label and the progress before the window does, so
  // a reader that starts late (a window shown later, orlin-cli) reads the
  // current state instead of waiting for the next change.
  void SetStatusLabel(const std::wstring& key) {
    model.folder.SetStatusKey(key);
    if (view != nullptr) view->SetStatusLabel(key);
  }
  void SetProgress(std::int32_t percent) {
    model.folder.progress.store(percent);
    if (view != nullptr) view->SetProgress(percent);
  }
};

}  // namespace orlin
