#include "engine/request_loop.h"

#include <curl/curl.h>
#include <uv.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/rest_paths.h"

namespace orlin {

namespace {

struct Transfer;

// One socket libcurl asked us to watch. The poll handle is made only when
// the socket is really watched (see "Quiet reading" below).
struct PollContext {
  uv_poll_t poll;
  curl_socket_t socket;
  RequestLoop::State* state;
  int wanted = 0;         // UV_READABLE | UV_WRITABLE, as libcurl asked
  int polling = 0;        // what the started poll handle watches; 0 stopped
  bool pollMade = false;  // `poll` initialised (closing frees the context)
};

}  // namespace

struct RequestLoop::State {
  RequestLoopOptions options;
  std::function<void()> onStarted;
  std::chrono::steady_clock::time_point startTime;

  // Shared with other threads, under `mutex`.
  std::mutex mutex;
  bool accepting = false;      // `wake` is open: Submit may queue and signal
  bool stopRequested = false;
  std::vector<std::unique_ptr<RestRequest>> incoming;
  struct DelayedTask {
    std::chrono::milliseconds delay;
    std::function<void()> task;
  };
  std::vector<DelayedTask> incomingTasks;

  std::atomic<std::uint64_t> completed{0};
  std::atomic<std::size_t> inFlight{0};
  std::atomic<std::size_t> tasksWaiting{0};

  // Set once by the loop thread when it has released everything.
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  bool done = false;

  // Loop thread only (prepared by Start before the thread exists).
  uv_loop_t loop{};
  uv_async_t wake{};
  uv_timer_t curlTimer{};
  uv_timer_t paceTimer{};
  CURLM* multi = nullptr;
  bool shuttingDown = false;
  bool multiClosing = false;
  std::unordered_set<Transfer*> active;  // added to the multi handle
  std::deque<Transfer*> finished;        // waiting for their completion
  std::unordered_set<uv_timer_t*> taskTimers;  // RunAfter tasks waiting for their time
  std::unordered_set<PollContext*> sockets;    // what libcurl wants watched
  // Easy handles of completed transfers, reset for the next request: the
  // poll asks ten times a second, and a fresh handle is a few kilobytes of
  // buffers made and freed each time.
  std::vector<CURL*> spareEasy;
  // Quiet reading: while a completion is due anyway, sockets are not watched
  // and are read at the pacing tick instead (see SchedulePacing).
  bool quiet = false;
};

namespace {

thread_local RequestLoop::State* t_loopState = nullptr;

struct Transfer {
  std::unique_ptr<RestRequest> request;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  RequestLoop::State* state = nullptr;
  bool overflowed = false;
};

constexpr std::size_t kMaxSpareEasy = 16;

void FreeTransfer(Transfer* t) {
  if (t->easy) curl_easy_cleanup(t->easy);
  curl_slist_free_all(t->headers);
  delete t;
}

// A completed transfer: its easy handle (out of the multi handle already)
// is kept for the next request.
void RecycleTransfer(RequestLoop::State* s, Transfer* t) {
  if (t->easy && s->spareEasy.size() < kMaxSpareEasy) {
    curl_easy_reset(t->easy);
    s->spareEasy.push_back(t->easy);
    t->easy = nullptr;
  }
  FreeTransfer(t);
}

CURL* TakeEasy(RequestLoop::State* s) {
  if (s->spareEasy.empty()) return curl_easy_init();
  CURL* easy = s->spareEasy.back();
  s->spareEasy.pop_back();
  return easy;
}

RestTransferStatus Classify(CURLcode code, bool overflowed) {
  if (overflowed) return RestTransferStatus::kTooLarge;
  switch (code) {
    case CURLE_OK:
      return RestTransferStatus::kAnswered;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return RestTransferStatus::kConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return RestTransferStatus::kTimedOut;
    default:
      return RestTransferStatus::kTransferFailed;
  }
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string& response = t->request->response;
  if (n > t->state->options.maxAnswerBytes - std::min(response.size(), t->state->options.maxAnswerBytes)) {
    // Returning less than `n` makes libcurl abandon the transfer.
    t->overflowed = true;
    std::string().swap(response);
    return 0;
  }
  try {
    response.append(data, n);
  } catch (const std::bad_alloc&) {
    std::string().swap(response);
    return 0;
  }
  return n;
}

void OnPollClosed(uv_handle_t* handle) { delete static_cast<PollContext*>(handle->data); }

void CompleteNext(RequestLoop::State* s);
void CollectFinished(RequestLoop::State* s);
void OnPoll(uv_poll_t* handle, int status, int events);

// Quiet reading. Each answer the poll asks for arrives a moment after its
// request, long before its completion is due: while finished transfers wait
// for the pacing tick, a wake-up of the loop for that answer would only put
// it in line. So while the pacing timer runs, the sockets are not watched;
// the tick first lets libcurl look at every socket it wants watched (it
// checks them itself, without blocking), then completes the next transfer.
// The loop then wakes once per completion instead of twice, and the poll
// handles are not made, started and closed for every request. When nothing
// waits for a tick, every socket is watched again, so an answer that arrives
// then (a long poll, a command's answer) is taken at once.
void WatchSocket(RequestLoop::State* s, PollContext* ctx) {
  const int events = s->quiet ? 0 : ctx->wanted;
  if (ctx->polling == events) return;
  if (events == 0) {
    uv_poll_stop(&ctx->poll);
    ctx->polling = 0;
    return;
  }
  if (!ctx->pollMade) {
    if (uv_poll_init_socket(&s->loop, &ctx->poll, ctx->socket) != 0) return;
    ctx->poll.data = ctx;
    ctx->pollMade = true;
  }
  if (uv_poll_start(&ctx->poll, events, OnPoll) == 0) ctx->polling = events;
}

void SetQuiet(RequestLoop::State* s, bool quiet) {
  if (s->quiet == quiet) return;
  s->quiet = quiet;
  for (PollContext* ctx : s->sockets) WatchSocket(s, ctx);
}

// Lets libcurl read and write what it can on every socket it wants watched.
void DriveQuietSockets(RequestLoop::State* s) {
  if (s->sockets.empty()) return;
  // libcurl may add and remove sockets meanwhile; a removed one it ignores.
  std::vector<curl_socket_t> sockets;
  sockets.reserve(s->sockets.size());
  for (PollContext* ctx : s->sockets) sockets.push_back(ctx->socket);
  int running = 0;
  for (curl_socket_t socket : sockets) {
    if (s->shuttingDown) return;
    // No event mask: libcurl checks the socket itself, without waiting.
    curl_multi_socket_action(s->multi, socket, 0, &running);
  }
}

void TakeFinished(RequestLoop::State* s);

void OnPaceTimer(uv_timer_t* timer) {
  auto* s = static_cast<RequestLoop::State*>(timer->data);
  if (s->quiet) {
    DriveQuietSockets(s);
    TakeFinished(s);
  }
  CompleteNext(s);
}

// Finished transfers wait in `finished`; one is completed per pacing period.
void SchedulePacing(RequestLoop::State* s) {
  if (s->shuttingDown) return;
  if (s->finished.empty()) {
    // Nothing is due: an answer must wake the loop.
    SetQuiet(s, false);
    return;
  }
  // Without a pause between completions there is no tick to wait for.
  SetQuiet(s, s->options.completionPacing.count() > 0);
  if (uv_is_active(reinterpret_cast<uv_handle_t*>(&s->paceTimer))) return;
  // The pause counts from now: the loop's clock stands at the start of this
  // turn, before the completion that just ran, and a slow completion would
  // otherwise shorten the pause by its own time.
  uv_update_time(&s->loop);
  uv_timer_start(&s->paceTimer, OnPaceTimer, static_cast<uint64_t>(s->options.completionPacing.count()), 0);
}

void CompleteNext(RequestLoop::State* s) {
  if (s->shuttingDown) return;
  if (s->finished.empty()) {
    SchedulePacing(s);
    return;
  }
  Transfer* t = s->finished.front();
  s->finished.pop_front();

  const char* effective = nullptr;
  if (t->easy) curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &effective);
  const std::string effectiveUrl = effective ? effective : "";
  curl_slist_free_all(t->headers);
  t->headers = nullptr;

  // Counted before the call, so what a completion reports is already seen.
  s->completed.fetch_add(1, std::memory_order_relaxed);
  s->inFlight.fetch_sub(1, std::memory_order_relaxed);
  if (t->request->onComplete) {
    // Completions are the caller's code running inside libuv's callback: an
    // exception must not unwind through C frames.
    try {
      t->request->onComplete(*t->request, effectiveUrl);
    } catch (...) {
    }
  }
  RecycleTransfer(s, t);
  SchedulePacing(s);
}

// Moves the transfers libcurl has finished to `finished`.
void TakeFinished(RequestLoop::State* s) {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(s->multi, &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    CURL* easy = msg->easy_handle;
    const CURLcode code = msg->data.result;
    Transfer* t = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
    if (!t) continue;
    long httpStatus = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &httpStatus);
    t->request->httpStatus = httpStatus;
    t->request->status = Classify(code, t->overflowed);
    if (t->overflowed) std::string().swap(t->request->response);
    // Removing the handle now hands its connection back for reuse while the
    // transfer waits for its completion; `msg` is invalid after this call.
    curl_multi_remove_handle(s->multi, easy);
    s->active.erase(t);
    s->finished.push_back(t);
  }
}

void CollectFinished(RequestLoop::State* s) {
  TakeFinished(s);
  SchedulePacing(s);
}

void OnPoll(uv_poll_t* handle, int status, int events) {
  auto* ctx = static_cast<PollContext*>(handle->data);
  RequestLoop::State* s = ctx->state;
  if (s->shuttingDown) return;
  int flags = 0;
  if (status < 0) {
    flags = CURL_CSELECT_ERR;
  } else {
    if (events & UV_READABLE) flags |= CURL_CSELECT_IN;
    if (events & UV_WRITABLE) flags |= CURL_CSELECT_OUT;
  }
  // The curl timer is left running: libcurl re-arms it only when its next
  // deadline changes, so stopping it here could lose a stall time-out.
  int running = 0;
  curl_multi_socket_action(s->multi, ctx->socket, flags, &running);
  CollectFinished(s);
}

int OnCurlSocket(CURL* /*easy*/, curl_socket_t socket, int what, void* user, void* socketData) {
  auto* s = static_cast<RequestLoop::State*>(user);
  auto* ctx = static_cast<PollContext*>(socketData);
  if (what == CURL_POLL_REMOVE) {
    if (ctx) {
      s->sockets.erase(ctx);
      if (ctx->pollMade) {
        uv_poll_stop(&ctx->poll);
        uv_close(reinterpret_cast<uv_handle_t*>(&ctx->poll), OnPollClosed);
      } else {
        delete ctx;
      }
      if (!s->multiClosing) curl_multi_assign(s->multi, socket, nullptr);
    }
    return 0;
  }
  if (s->shuttingDown) return 0;
  if (!ctx) {
    ctx = new PollContext{};
    ctx->socket = socket;
    ctx->state = s;
    s->sockets.insert(ctx);
    curl_multi_assign(s->multi, socket, ctx);
  }
  ctx->wanted = 0;
  if (what == CURL_POLL_IN || what == CURL_POLL_INOUT) ctx->wanted |= UV_READABLE;
  if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT) ctx->wanted |= UV_WRITABLE;
  WatchSocket(s, ctx);
  if (!s->quiet && ctx->polling != ctx->wanted) {
    // The socket cannot be watched: libcurl fails the transfer.
    s->sockets.erase(ctx);
    curl_multi_assign(s->multi, socket, nullptr);
    if (ctx->pollMade) {
      uv_close(reinterpret_cast<uv_handle_t*>(&ctx->poll), OnPollClosed);
    } else {
      delete ctx;
    }
    return -1;
  }
  return 0;
}

void OnCurlTimeout(uv_timer_t* timer) {
  auto* s = static_cast<RequestLoop::State*>(timer->data);
  if (s->shuttingDown) return;
  int running = 0;
  curl_multi_socket_action(s->multi, CURL_SOCKET_TIMEOUT, 0, &running);
  CollectFinished(s);
}

int OnCurlTimer(CURLM* /*multi*/, long timeoutMs, void* user) {
  auto* s = static_cast<RequestLoop::State*>(user);
  if (s->shuttingDown) return 0;
  if (timeoutMs < 0) {
    // libcurl has no deadline left: -1 deletes the timer.
    uv_timer_stop(&s->curlTimer);
  } else {
    // 0 means "as soon as possible"; libcurl must not be re-entered from here,
    // so it still goes through the timer (next loop iteration).
    uv_timer_start(&s->curlTimer, OnCurlTimeout, static_cast<uint64_t>(timeoutMs), 0);
  }
  return 0;
}

void FailImmediately(RequestLoop::State* s, std::unique_ptr<RestRequest> request) {
  auto* t = new Transfer{};
  t->request = std::move(request);
  t->state = s;
  t->request->status = RestTransferStatus::kTransferFailed;
  t->easy = nullptr;
  s->finished.push_back(t);
  SchedulePacing(s);
}

void AddTransfer(RequestLoop::State* s, std::unique_ptr<RestRequest> request) {
  CURL* easy = TakeEasy(s);
  if (!easy) {
    FailImmediately(s, std::move(request));
    return;
  }
  auto* t = new Transfer{};
  t->request = std::move(request);
  t->easy = easy;
  t->state = s;
  RestRequest& r = *t->request;
  r.response.clear();
  r.status = RestTransferStatus::kPending;
  r.httpStatus = 0;
  if (!r.apiKey.empty()) {
    const std::string line = rest::KeyHeader(r.apiKey);
    t->headers = curl_slist_append(nullptr, line.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  // The loop talks only to the engine on this computer: a proxy from the
  // environment would break that and would see the API key.
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  if (t->headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t->headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
  curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s->options.connectTimeout.count()));
  // A silent answer ends as a time-out. The limit is on the whole transfer,
  // not on its speed: the engine on this computer sends any answer within a
  // moment once it sends at all, and curl checks a speed limit once a second
  // for every transfer, which woke this loop twice a second for the two long
  // polls of a program in the tray. Endless answers end at the size cap.
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(s->options.stallTimeout.count()));
  if (r.body) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body->size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, r.body->data());
  }
  if (curl_multi_add_handle(s->multi, easy) != CURLM_OK) {
    t->request->status = RestTransferStatus::kTransferFailed;
    s->finished.push_back(t);
    SchedulePacing(s);
    return;
  }
  s->active.insert(t);
}

// One RunAfter task: a timer of its own that runs the task once and goes.
struct TimedTask {
  uv_timer_t timer;
  std::function<void()> task;
  RequestLoop::State* state;
};

void OnTaskTimerClosed(uv_handle_t* handle) { delete static_cast<TimedTask*>(handle->data); }

void OnTaskTimer(uv_timer_t* timer) {
  auto* t = static_cast<TimedTask*>(timer->data);
  RequestLoop::State* s = t->state;
  s->taskTimers.erase(timer);
  uv_close(reinterpret_cast<uv_handle_t*>(timer), OnTaskTimerClosed);
  s->tasksWaiting.fetch_sub(1, std::memory_order_relaxed);
  if (s->shuttingDown || !t->task) return;
  // As with completions: the caller's code must not unwind through libuv.
  try {
    t->task();
  } catch (...) {
  }
}

void StartTask(RequestLoop::State* s, RequestLoop::State::DelayedTask delayed) {
  auto* t = new TimedTask{};
  t->task = std::move(delayed.task);
  t->state = s;
  t->timer.data = t;
  if (uv_timer_init(&s->loop, &t->timer) != 0) {
    delete t;
    s->tasksWaiting.fetch_sub(1, std::memory_order_relaxed);
    return;
  }
  s->taskTimers.insert(&t->timer);
  // The delay counts from now, not from the start of this turn of the loop.
  uv_update_time(&s->loop);
  uv_timer_start(&t->timer, OnTaskTimer, static_cast<uint64_t>(std::max<std::int64_t>(0, delayed.delay.count())), 0);
}

void Shutdown(RequestLoop::State* s);

void OnWake(uv_async_t* handle) {
  auto* s = static_cast<RequestLoop::State*>(handle->data);
  if (s->shuttingDown) return;
  std::vector<std::unique_ptr<RestRequest>> batch;
  std::vector<RequestLoop::State::DelayedTask> tasks;
  bool stop = false;
  {
    std::lock_guard lock(s->mutex);
    batch.swap(s->incoming);
    tasks.swap(s->incomingTasks);
    stop = s->stopRequested;
  }
  if (stop) {
    s->inFlight.fetch_sub(batch.size(), std::memory_order_relaxed);
    s->tasksWaiting.fetch_sub(tasks.size(), std::memory_order_relaxed);
    Shutdown(s);
    return;
  }
  for (auto& request : batch) AddTransfer(s, std::move(request));
  for (auto& task : tasks) StartTask(s, std::move(task));
  SchedulePacing(s);
}

void CloseStray(uv_handle_t* handle, void* /*arg*/) {
  if (uv_is_closing(handle)) return;
  uv_close(handle, handle->type == UV_POLL ? OnPollClosed : nullptr);
}

// Drops every transfer, closes every handle; uv_run then returns.
void Shutdown(RequestLoop::State* s) {
  s->shuttingDown = true;
  std::vector<std::unique_ptr<RestRequest>> dropped;
  std::vector<RequestLoop::State::DelayedTask> droppedTasks;
  {
    std::lock_guard lock(s->mutex);
    s->accepting = false;
    dropped.swap(s->incoming);
    droppedTasks.swap(s->incomingTasks);
  }
  s->inFlight.fetch_sub(dropped.size(), std::memory_order_relaxed);
  s->tasksWaiting.fetch_sub(droppedTasks.size(), std::memory_order_relaxed);
  // Tasks may hold what their owner frees after Stop: they go unrun, now.
  droppedTasks.clear();
  for (uv_timer_t* timer : s->taskTimers) {
    uv_timer_stop(timer);
    static_cast<TimedTask*>(timer->data)->task = nullptr;
    uv_close(reinterpret_cast<uv_handle_t*>(timer), OnTaskTimerClosed);
  }
  s->tasksWaiting.fetch_sub(s->taskTimers.size(), std::memory_order_relaxed);
  s->taskTimers.clear();
  uv_close(reinterpret_cast<uv_handle_t*>(&s->wake), nullptr);
  uv_timer_stop(&s->curlTimer);
  uv_timer_stop(&s->paceTimer);
  uv_close(reinterpret_cast<uv_handle_t*>(&s->curlTimer), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(&s->paceTimer), nullptr);

  for (CURL* easy : s->spareEasy) curl_easy_cleanup(easy);
  s->spareEasy.clear();
  for (Transfer* t : s->finished) FreeTransfer(t);
  s->inFlight.fetch_sub(s->finished.size(), std::memory_order_relaxed);
  s->finished.clear();
  for (Transfer* t : s->active) {
    curl_multi_remove_handle(s->multi, t->easy);
    FreeTransfer(t);
  }
  s->inFlight.fetch_sub(s->active.size(), std::memory_order_relaxed);
  s->active.clear();
  // Closing the multi handle closes its cached connections, which reports
  // their sockets as removed (closing their poll handles).
  s->multiClosing = true;
  curl_multi_cleanup(s->multi);
  s->multi = nullptr;
  // Sockets never watched have no handle for the walk below to close.
  for (PollContext* ctx : s->sockets) {
    if (!ctx->pollMade) delete ctx;
  }
  s->sockets.clear();
  uv_walk(&s->loop, CloseStray, nullptr);
}

void RunLoop(std::shared_ptr<RequestLoop::State> s) {
  t_loopState = s.get();
  if (s->onStarted) {
    try {
      s->onStarted();
    } catch (...) {
    }
  }
  uv_run(&s->loop, UV_RUN_DEFAULT);
  // Everything is closed; a second pass only runs close callbacks still due.
  while (uv_loop_close(&s->loop) == UV_EBUSY) {
    uv_walk(&s->loop, CloseStray, nullptr);
    uv_run(&s->loop, UV_RUN_NOWAIT);
  }
  curl_global_cleanup();
  t_loopState = nullptr;
  {
    std::lock_guard lock(s->doneMutex);
    s->done = true;
  }
  s->doneChanged.notify_all();
}

// Asks the loop of `s` to stop; safe from any thread.
void RequestStop(RequestLoop::State* s) {
  std::lock_guard lock(s->mutex);
  s->stopRequested = true;
  if (s->accepting) uv_async_send(&s->wake);
}

bool WaitDone(RequestLoop::State* s, std::chrono::milliseconds deadline) {
  std::unique_lock lock(s->doneMutex);
  return s->doneChanged.wait_for(lock, deadline, [s] { return s->done; });
}

}  // namespace

RequestLoop::RequestLoop(RequestLoopOptions options) : options_(options) {}

RequestLoop::~RequestLoop() {
  std::shared_ptr<State> s = CurrentState();
  if (s && s.get() == t_loopState) {
    // Destroyed by one of its own completions: the thread ends by itself
    // once that completion returns, and owns its state until then.
    RequestStop(s.get());
    if (thread_.joinable()) thread_.detach();
    return;
  }
  Stop(kDefaultStopDeadline);
}

std::shared_ptr<RequestLoop::State> RequestLoop::CurrentState() const {
  std::lock_guard lock(stateMutex_);
  return state_;
}

bool RequestLoop::Start(std::function<void()> onStarted) {
  if (std::shared_ptr<State> s = CurrentState(); s && s.get() == t_loopState) return false;
  std::lock_guard control(control_);
  if (std::shared_ptr<State> old = CurrentState()) {
    {
      std::lock_guard lock(old->mutex);
      if (!old->stopRequested) return false;
    }
    // Stopped from one of its own completions: that thread ends promptly.
    if (WaitDone(old.get(), kDefaultStopDeadline)) {
      thread_.join();
    } else {
      thread_.detach();
    }
    std::lock_guard lock(stateMutex_);
    state_.reset();
  }

  auto s = std::make_shared<State>();
  s->options = options_;
  s->startTime = std::chrono::steady_clock::now();
  s->onStarted = std::move(onStarted);
  if (uv_loop_init(&s->loop) != 0) return false;
  curl_global_init(CURL_GLOBAL_ALL);
  s->multi = curl_multi_init();
  if (!s->multi) {
    uv_loop_close(&s->loop);
    curl_global_cleanup();
    return false;
  }
  uv_async_init(&s->loop, &s->wake, OnWake);
  s->wake.data = s.get();
  uv_timer_init(&s->loop, &s->curlTimer);
  s->curlTimer.data = s.get();
  uv_timer_init(&s->loop, &s->paceTimer);
  s->paceTimer.data = s.get();
  curl_multi_setopt(s->multi, CURLMOPT_SOCKETFUNCTION, OnCurlSocket);
  curl_multi_setopt(s->multi, CURLMOPT_SOCKETDATA, s.get());
  curl_multi_setopt(s->multi, CURLMOPT_TIMERFUNCTION, OnCurlTimer);
  curl_multi_setopt(s->multi, CURLMOPT_TIMERDATA, s.get());
  s->accepting = true;
  {
    // Published before the thread runs: `onStarted` already submits.
    std::lock_guard lock(stateMutex_);
    state_ = s;
  }

  try {
    thread_ = std::thread(RunLoop, s);
  } catch (const std::system_error&) {
    {
      std::lock_guard lock(stateMutex_);
      state_.reset();
    }
    {
      std::lock_guard lock(s->mutex);
      s->accepting = false;
    }
    s->shuttingDown = true;
    uv_close(reinterpret_cast<uv_handle_t*>(&s->wake), nullptr);
    uv_close(reinterpret_cast<uv_handle_t*>(&s->curlTimer), nullptr);
    uv_close(reinterpret_cast<uv_handle_t*>(&s->paceTimer), nullptr);
    uv_run(&s->loop, UV_RUN_DEFAULT);
    uv_loop_close(&s->loop);
    curl_multi_cleanup(s->multi);
    curl_global_cleanup();
    return false;
  }
  return true;
}

bool RequestLoop::Submit(std::unique_ptr<RestRequest> request) {
  if (!request) return false;
  std::shared_ptr<State> s = CurrentState();
  if (!s) return false;
  if (s.get() == t_loopState) {
    // From a completion or task: the loop thread adds the transfer itself.
    // Handing it through the queue would cost a wake-up of the loop (an
    // event write and one more turn of the loop) for every re-request of the
    // poll, which is most of what the loop does.
    {
      std::lock_guard lock(s->mutex);
      if (!s->accepting || s->stopRequested) return false;
    }
    if (s->shuttingDown) return false;
    s->inFlight.fetch_add(1, std::memory_order_relaxed);
    AddTransfer(s.get(), std::move(request));
    return true;
  }
  std::lock_guard lock(s->mutex);
  // `accepting` is cleared, under this mutex, before `wake` is closed.
  if (!s->accepting || s->stopRequested) return false;
  s->incoming.push_back(std::move(request));
  s->inFlight.fetch_add(1, std::memory_order_relaxed);
  uv_async_send(&s->wake);
  return true;
}

bool RequestLoop::RunAfter(std::chrono::milliseconds delay, std::function<void()> task) {
  if (!task) return false;
  std::shared_ptr<State> s = CurrentState();
  if (!s) return false;
  std::lock_guard lock(s->mutex);
  if (!s->accepting || s->stopRequested) return false;
  s->incomingTasks.push_back(State::DelayedTask{delay, std::move(task)});
  s->tasksWaiting.fetch_add(1, std::memory_order_relaxed);
  uv_async_send(&s->wake);
  return true;
}

bool RequestLoop::Stop(std::chrono::milliseconds deadline) {
  if (std::shared_ptr<State> s = CurrentState(); s && s.get() == t_loopState) {
    // From one of its own completions: the thread cannot wait for itself.
    RequestStop(s.get());
    return false;
  }
  std::lock_guard control(control_);
  std::shared_ptr<State> s = CurrentState();
  if (!s) return true;
  RequestStop(s.get());
  const bool ended = WaitDone(s.get(), deadline);
  if (ended) {
    thread_.join();
  } else {
    // A completion is stuck; the thread keeps its own reference to the state
    // and releases it when it gets out.
    thread_.detach();
  }
  std::lock_guard lock(stateMutex_);
  state_.reset();
  return ended;
}

bool RequestLoop::IsRunning() const {
  std::shared_ptr<State> s = CurrentState();
  if (!s) return false;
  std::lock_guard lock(s->mutex);
  return s->accepting && !s->stopRequested;
}

bool RequestLoop::IsLoopThread() const {
  return t_loopState != nullptr && t_loopState == CurrentState().get();
}

std::chrono::steady_clock::time_point RequestLoop::StartTime() const {
  std::shared_ptr<State> s = CurrentState();
  return s ? s->startTime : std::chrono::steady_clock::time_point{};
}

RequestLoop::Counters RequestLoop::GetCounters() const {
  Counters c;
  if (std::shared_ptr<State> s = CurrentState()) {
    c.completed = s->completed.load(std::memory_order_relaxed);
    c.inFlight = s->inFlight.load(std::memory_order_relaxed);
    c.tasksWaiting = s->tasksWaiting.load(std::memory_order_relaxed);
  }
  return c;
}

}  // namespace orlin
