#pragma once
// The engine controller's request loop: one thread running an event loop
// that drives many non-blocking HTTP transfers to the engine's REST
// interface at once and hands each finished one to its request's completion.
//
// Threads:
//   - Start, Submit, Stop, IsRunning may be called from any thread. Submit
//     from another thread hands the request to the loop thread through a
//     queue; transfers are only ever touched on the loop thread.
//   - `onStarted` (Start), every RestRequest::onComplete and every RunAfter
//     task run on the loop thread. They may Submit; they must not block for
//     long, since the whole loop waits for them.
//
// Pacing: finished transfers wait in line and the loop hands one to its
// completion every `completionPacing`, the first one `completionPacing` after
// it finished: at most ten completions a second with the default of 100 ms.
// The pause is a timer, not a sleep: Stop is answered at once, and requests
// are sent as they are submitted. While a completion is due, answers are
// not waited for separately: each tick reads what has arrived meanwhile, so
// a paced poll wakes the loop once per completion. Because the status poller
// re-requests an endpoint from its completion, this pause is what paces the
// whole poll.
//
// Bad servers: every transfer completes. A refused connection, an early
// close or a truncated body completes with whatever arrived; an answer that
// stalls for `stallTimeout` completes as timed out (the engine's long-polling
// event feeds answer within a minute, so the default leaves them alone; the
// limit holds for the whole transfer, which on this computer is the same);
// an answer above `maxAnswerBytes` is abandoned and completes as too large
// with an empty body, so memory stays bounded.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/rest_request.h"

namespace orlin {

struct RequestLoopOptions {
  // Minimum gap between two completions. Zero only in benchmarks and tests
  // that measure the transport itself.
  std::chrono::milliseconds completionPacing{100};
  // Largest answer kept. The engine's largest answers (the configuration,
  // need lists of 1000 rows) are far below 1 MiB.
  std::size_t maxAnswerBytes = 16u * 1024u * 1024u;
  // Time allowed to connect, and how long an answer may take.
  std::chrono::milliseconds connectTimeout{30000};
  std::chrono::milliseconds stallTimeout{120000};
};

class RequestLoop {
 public:
  static constexpr std::chrono::milliseconds kDefaultStopDeadline{5000};

  explicit RequestLoop(RequestLoopOptions options = {});
  // Stops the loop (with kDefaultStopDeadline) when it still runs.
  ~RequestLoop();
  RequestLoop(const RequestLoop&) = delete;
  RequestLoop& operator=(const RequestLoop&) = delete;

  // Starts the loop thread; `onStarted` then runs first on that thread (the
  // poller submits its first requests there). Requests may be submitted as
  // soon as Start returns. Returns false, and does nothing, when the loop
  // already runs (the caller decides what a second start means), when
  // called from the loop thread, or when the event loop cannot be created.
  bool Start(std::function<void()> onStarted = {});

  // Queues `request`. Returns false and drops the request when the loop is
  // not running (or is stopping). Requests without an apiKey are sent
  // without the key header.
  bool Submit(std::unique_ptr<RestRequest> request);

  // Runs `task` on the loop thread once `delay` has passed (zero: as soon as
  // the loop gets to it). Tasks are not paced like completions. Returns
  // false and drops the task when the loop is not running; a task still
  // waiting when the loop stops is dropped unrun.
  bool RunAfter(std::chrono::milliseconds delay, std::function<void()> task);

  // Asks the loop to stop and waits up to `deadline` for its thread to end.
  // Transfers in flight and finished transfers not yet completed are dropped
  // without completion. Returns true when the thread has ended. When the
  // deadline passes (a completion is stuck), or when called from the loop
  // thread itself (from a completion), the thread is left to end on its own
  // and false is returned; it owns everything it still uses, so destroying
  // this object or starting it again is safe. Stop on a stopped loop returns
  // true. Start and Stop must not be called from `onStarted`/completions
  // except Stop, which then only asks the loop to stop.
  bool Stop(std::chrono::milliseconds deadline = kDefaultStopDeadline);

  bool IsRunning() const;
  // True on the loop thread (in completions and `onStarted`).
  bool IsLoopThread() const;
  // When the current loop was started (the epoch of the poller's rate
  // stopwatch); the default value while stopped.
  std::chrono::steady_clock::time_point StartTime() const;

  struct Counters {
    std::uint64_t completed = 0;  // completions since Start
    std::size_t inFlight = 0;     // submitted, not yet completed
    std::size_t tasksWaiting = 0; // RunAfter tasks not yet run
  };
  Counters GetCounters() const;

  struct State;  // defined in request_loop.cpp

 private:
  std::shared_ptr<State> CurrentState() const;

  RequestLoopOptions options_;
  std::mutex control_;             // serialises Start and Stop (never taken on the loop thread)
  mutable std::mutex stateMutex_;  // guards state_; held only briefly
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace orlin
