#include "monitor/poller.h"

#include <algorithm>
#include <fstream>

#include "engine/request_loop.h"
#include "monitor/answer_handlers.h"
#include "monitor/config_pause.h"
#include "monitor/json_read.h"

namespace orlin {
namespace {

std::string Rest(std::string_view endpoint) { return rest::Url(endpoint); }

const std::string& EventStreamUrl() {
  static const std::string url = Rest(rest::kEvents) + "?since=0&limit=1";
  return url;
}

const std::string& FolderCompletionEventsUrl() {
  static const std::string url = Rest(rest::kEvents) + "?since=0&events=FolderCompletion";
  return url;
}

// Every remote completion URL starts so, whichever folder and device.
const std::string& RemoteCompletionPrefix() {
  static const std::string prefix = Rest(rest::kDbCompletion) + "?folder=";
  return prefix;
}
constexpr std::int32_t kSettingsPause = 8;
constexpr std::int32_t kQuietRefresh = 9;
// The folder status refreshes the totals labels once the answer counter
// reached this (monitor/folder.cpp).
constexpr std::int32_t kTotalsEveryAnswers = 50;

// The general events that change what the hidden program still owes the
// user (the folder's state, its counts and errors, a pause or resume). Each
// mask is a subscription of its own in the engine, numbered from 1.
constexpr std::string_view kWakeEvents =
    "StateChanged,FolderSummary,FolderErrors,FolderPaused,FolderResumed,ConfigSaved";

const std::string& WakeFeedPrefix() {
  static const std::string prefix = Rest(rest::kEvents) + "?events=" + std::string(kWakeEvents) + "&since=";
  return prefix;
}

// The engine holds its event feeds open until something happens, up to a
// minute: their silence says nothing about the engine.
bool IsEventFeed(const std::string& url) {
  static const std::string prefix = Rest(rest::kEvents);
  return url.compare(0, prefix.size(), prefix) == 0;
}

bool SameRequest(const PollRequest& a, const PollRequest& b) {
  return a.url == b.url && a.kind == b.kind && a.parameter == b.parameter;
}

// Lines of the diagnostic log when the engine goes and comes back.
constexpr std::string_view kLogEngineRefused = "EngineDown 引擎没有应答 (connection failed)";
constexpr std::string_view kLogEngineSilent = "EngineDown 引擎没有应答 (no answer)";
constexpr std::string_view kLogEngineBack = "EngineUp 引擎已应答";

}  // namespace

// --- Tracking of periodic GETs ------------------------------------------------

void StatusPoller::TrackingSink::Submit(const PollRequest& request) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (holding_ && request.kind != kKindManualRefresh) {
    // A periodic GET still on its way comes back (answered or failed) and
    // is asked again then; every other request waits once.
    if (request.kind == kKindPeriodic && inFlight_.count(request.url) > 0) return;
    if (std::none_of(held_.begin(), held_.end(), [&](const PollRequest& r) { return SameRequest(r, request); })) {
      held_.push_back(request);
    }
    return;
  }
  SendLocked(request, lock);
}

void StatusPoller::TrackingSink::SendLocked(const PollRequest& request, std::unique_lock<std::mutex>& lock) {
  if (request.kind == kKindPeriodic) {
    Out& out = inFlight_[request.url];
    if (out.count > 0) return;
    ++out.count;
    out.since = clock_.SteadyNow();
  }
  lock.unlock();
  inner_.Submit(request);
}

void StatusPoller::TrackingSink::Answered(const PollRequest& request) {
  if (request.kind != kKindPeriodic) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = inFlight_.find(request.url);
  if (found == inFlight_.end()) return;
  if (--found->second.count == 0) inFlight_.erase(found);
}

void StatusPoller::TrackingSink::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  inFlight_.clear();
  held_.clear();
  holding_ = false;
}

std::size_t StatusPoller::TrackingSink::InFlight(const std::string& url) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = inFlight_.find(url);
  return found == inFlight_.end() ? 0 : found->second.count;
}

void StatusPoller::TrackingSink::Hold() {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = true;
}

std::vector<PollRequest> StatusPoller::TrackingSink::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = false;
  std::vector<PollRequest> waiting;
  waiting.swap(held_);
  return waiting;
}

std::size_t StatusPoller::TrackingSink::HeldCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_.size();
}

bool StatusPoller::TrackingSink::SendPastHold(const std::string& url) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (auto found = inFlight_.find(url); found != inFlight_.end() && found->second.count > 0) return false;
  std::erase_if(held_, [&](const PollRequest& r) { return r.kind == kKindPeriodic && r.url == url; });
  SendLocked(PollRequest{url}, lock);
  return true;
}

std::optional<std::chrono::steady_clock::time_point> StatusPoller::TrackingSink::OldestShortRequest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::chrono::steady_clock::time_point> oldest;
  for (const auto& [url, out] : inFlight_) {
    if (out.count == 0 || IsEventFeed(url)) continue;
    if (!oldest || out.since < *oldest) oldest = out.since;
  }
  return oldest;
}

// --- The poller -----------------------------------------------------------------

StatusPoller::StatusPoller(StatusModel& model, DiagnosticLog& log, RequestSink& requests, Clock& clock,
                           StatusPollerSetup setup, AnswerHandlers handlers)
    : model_(model),
      log_(log),
      requests_(requests, clock),
      debugDirectory_(std::move(setup.debugDirectory)),
      handlers_(std::move(handlers)),
      ctx_{model, log, requests_, clock, setup.window, setup.view, clock.SteadyNow()},
      scheduler_(setup.scheduler),
      hiddenPace_(setup.hiddenPace),
      engineWatch_(setup.engineWatch) {}

StatusPoller::~StatusPoller() { Stop(); }

bool StatusPoller::Start(RequestLoop& loop) {
  std::lock_guard<std::mutex> lock(loopMutex_);
  if (loop.IsRunning()) {
    // The resume command: the engine is asked for its configuration and the
    // answer clears the pause flag.
    loop_ = &loop;
    ctx_.FetchConfig(kKindResume);
    return true;
  }
  // Requests of an earlier run were dropped with that run's loop.
  requests_.Forget();
  pendingReprime_.store(0);
  if (!loop.Start([this, &loop] {
        ctx_.rateStopwatch = loop.StartTime();
        // Timers and the wake feed of an earlier run went with its loop.
        parked_.clear();
        wakeFeedOut_ = false;
        wakeCursor_ = "0";
        ++paceGeneration_;
        hidden_ = !wantVisible_.load();
        // So did the probe and the silence watch; the first answers tell
        // afresh whether the engine is there.
        engineDown_ = false;
        ++downGeneration_;
        silenceWatchArmed_.store(false);
        lastHeard_ = ctx_.clock.SteadyNow();
        model_.folder.engineAnswering.store(true);
        FirstBatch();
        if (hidden_) {
          ArmHiddenRound();
          AskWakeFeed();
        }
      })) {
    return false;
  }
  loop_ = &loop;
  return true;
}

void StatusPoller::Reprime(std::int32_t parameter) {
  {
    std::lock_guard<std::mutex> lock(loopMutex_);
    if (loop_ != nullptr && loop_->IsRunning() && !loop_->IsLoopThread()) {
      pendingReprime_.store(static_cast<std::int64_t>(parameter) + 1);
      WakeLoop();
      return;
    }
  }
  ApplyReprime(parameter);
}

void StatusPoller::ApplyReprime(std::int32_t parameter) {
  PollState& poll = model_.poll;
  poll.diskEventsCursor = "0";
  poll.lastGeneralEventId = "0";
  poll.inBytesTotal = 0;
  poll.outBytesTotal = 0;
  poll.previousInBytesTotal = 0;
  poll.previousOutBytesTotal = 0;
  // The refresh restarted the engine itself: the new start time the next
  // system status brings is no restart to start the feeds over for again.
  poll.engineStartTime.clear();
  // The restarted engine numbers the wake feed's events from 1 again.
  wakeCursor_ = "0";
  if (parameter != kQuietRefresh) ctx_.Send(kMsgRefreshDone);
  FirstBatch();
}

void StatusPoller::RequestNow(ManualList list) {
  pendingManual_.fetch_or(static_cast<std::uint32_t>(list));
  std::lock_guard<std::mutex> lock(loopMutex_);
  if (loop_ != nullptr && loop_->IsRunning() && !loop_->IsLoopThread()) WakeLoop();
}

void StatusPoller::WakeLoop() {
  if (scheduler_ != nullptr) scheduler_->RunAfter(std::chrono::milliseconds(0), [this] { ApplyPending(); });
}

void StatusPoller::ApplyPending() {
  if (const std::int64_t pending = pendingReprime_.exchange(0); pending != 0) {
    ApplyReprime(static_cast<std::int32_t>(pending - 1));
  }
  if (const std::uint32_t lists = pendingManual_.exchange(0); lists != 0) ApplyManualRequests(lists);
  ApplyVisibility(wantVisible_.load());
}

// --- The pace while nobody looks ------------------------------------------------

void StatusPoller::SetViewVisible(bool visible) {
  wantVisible_.store(visible);
  {
    std::lock_guard<std::mutex> lock(loopMutex_);
    if (loop_ != nullptr && !loop_->IsLoopThread()) {
      // A stopped loop takes the wish at its next start. A running one is
      // woken: while hidden its next answer may be a minute away.
      if (loop_->IsRunning()) WakeLoop();
      return;
    }
  }
  // No loop (nothing else touches the poll state), or the loop thread itself.
  ApplyVisibility(visible);
}

void StatusPoller::ApplyVisibility(bool visible) {
  if (hidden_ == !visible) return;
  hidden_ = !visible;
  ++paceGeneration_;
  if (hidden_) {
    ArmHiddenRound();
    AskWakeFeed();
    return;
  }
  // The totals labels otherwise wait for the fiftieth answer, which the
  // hidden pace reaches only after minutes.
  model_.poll.answerCounter = std::max(model_.poll.answerCounter, kTotalsEveryAnswers);
  AskWaiting();
}

void StatusPoller::ArmHiddenRound() {
  if (scheduler_ == nullptr) return;
  const std::uint64_t generation = paceGeneration_;
  scheduler_->RunAfter(hiddenPace_.interval, [this, generation] { HiddenRound(generation); });
}

void StatusPoller::HiddenRound(std::uint64_t generation) {
  ApplyPending();
  if (generation != paceGeneration_ || !hidden_) return;
  AskWaiting();
  if (!wakeFeedOut_) AskWakeFeed();
  ArmHiddenRound();
}

void StatusPoller::AskWaiting() {
  std::set<std::string> waiting;
  waiting.swap(parked_);
  // What the window shows first goes first: the loop hands out one answer
  // per pacing period, so the labels are current after the first three.
  std::vector<std::string> first;
  if (const std::string id = model_.folder.FolderId(); !id.empty()) first.push_back(rest::FolderUrl(rest::kDbStatus, id));
  first.push_back(Rest(rest::kSystemConnections));
  first.push_back(Rest(rest::kSystemStatus));
  for (const std::string& url : first) {
    // Asked while visible even when it did not wait (it may have left the
    // circulation); one already on its way is not sent twice.
    if (waiting.erase(url) > 0 || !hidden_) ctx_.Get(url);
  }
  for (const std::string& url : waiting) ctx_.Get(url);
  ArmSilenceWatch();
}

std::string StatusPoller::WakeFeedUrl() const {
  return WakeFeedPrefix() + wakeCursor_ + "&timeout=" + std::to_string(hiddenPace_.wakeTimeoutSeconds);
}

void StatusPoller::AskWakeFeed() {
  if (wakeFeedOut_) return;
  wakeFeedOut_ = true;
  ctx_.Get(WakeFeedUrl());
}

void StatusPoller::HandleWakeFeed(const PollAnswer& answer) {
  wakeFeedOut_ = false;
  // Shown, every endpoint runs at full pace: the feed is not needed.
  if (!hidden_) return;
  Json::Value events;
  if (!json::Parse(answer.body, events) || !events.isArray()) {
    // No engine, or one restarting (it numbers its events from 1 again):
    // asked from the start, a little later, so a missing engine costs no
    // busy loop. The system status goes along: its start time tells the
    // disk feed to start over too, which would otherwise wait for the slow
    // round while files arrive.
    wakeCursor_ = "0";
    if (scheduler_ != nullptr) {
      const std::uint64_t generation = paceGeneration_;
      scheduler_->RunAfter(hiddenPace_.wakeRetry, [this, generation] {
        ApplyPending();
        if (generation != paceGeneration_ || !hidden_) return;
        AskWakeFeed();
        const std::string status = Rest(rest::kSystemStatus);
        if (parked_.erase(status) > 0) ctx_.Get(status);
      });
    }
    return;
  }
  std::uint64_t last = 0;
  try {
    last = std::stoull(wakeCursor_);
  } catch (const std::exception&) {
  }
  for (const Json::Value& event : events) last = std::max(last, json::U64(json::Member(event, "id")));
  wakeCursor_ = std::to_string(last);
  if (!events.empty()) AskFolderStatusNow();
  AskWakeFeed();
}

void StatusPoller::AskFolderStatusNow() {
  const std::string id = model_.folder.FolderId();
  if (id.empty()) return;
  const std::string url = rest::FolderUrl(rest::kDbStatus, id);
  parked_.erase(url);
  ctx_.Get(url);
}

bool StatusPoller::KeepsFullPace(const std::string& url) const {
  // A settings pause keeps the toolbar locked until the folder status shows
  // the folder paused; the tray menu reads its state from that toolbar.
  return model_.folder.pauseParameter.load() == kSettingsPause &&
         url == rest::FolderUrl(rest::kDbStatus, model_.folder.FolderId());
}

bool StatusPoller::Repeats(const std::string& url, const std::string& body) {
  if (body.empty()) return false;
  std::string& last = lastBodies_[url];
  if (last == body) return true;
  last = body;
  return false;
}

void StatusPoller::ApplyManualRequests(std::uint32_t lists) {
  const std::string folderId = model_.folder.FolderId();
  if (folderId.empty()) return;
  if (lists & static_cast<std::uint32_t>(ManualList::kUnsynced)) {
    model_.poll.unsyncedFilesUrl = UnsyncedFilesUrl(folderId);
    ctx_.Get(model_.poll.unsyncedFilesUrl, kKindManualRefresh);
  }
  if (lists & static_cast<std::uint32_t>(ManualList::kLocallyChanged)) {
    ctx_.Get(LocallyChangedUrl(model_), kKindManualRefresh);
  }
  if (lists & static_cast<std::uint32_t>(ManualList::kFailed)) {
    ctx_.Get(FailedFilesUrl(model_), kKindManualRefresh);
  }
}

void StatusPoller::SubmitConfigFetch(std::int32_t kind, std::int32_t parameter) {
  ctx_.FetchConfig(kind, parameter);
}

std::string StatusPoller::FolderId() const { return model_.folder.FolderId(); }

std::string StatusPoller::FolderStateText() const { return model_.folder.FolderStateText(); }

std::int64_t StatusPoller::LocalChangeCount() const {
  return static_cast<std::int64_t>(model_.folder.lastRequestedChangeCount.load());
}

void StatusPoller::SettingsPauseBegins() {
  model_.folder.pauseParameter.store(kSettingsPause);
  model_.folder.pausing.store(1);
}

bool StatusPoller::Stop() {
  RequestLoop* loop = nullptr;
  {
    std::lock_guard<std::mutex> lock(loopMutex_);
    loop = loop_;
    loop_ = nullptr;
  }
  pendingReprime_.store(0);
  if (loop == nullptr) return true;
  const bool ended = loop->Stop();
  requests_.Forget();
  return ended;
}

bool StatusPoller::IsRunning() const {
  std::lock_guard<std::mutex> lock(loopMutex_);
  return loop_ != nullptr && loop_->IsRunning();
}

std::size_t StatusPoller::InFlight(const std::string& url) const { return requests_.InFlight(url); }

void StatusPoller::FirstBatch() {
  PollState& poll = model_.poll;
  ctx_.Get(DiskEventsUrl(poll.diskEventsCursor));
  ctx_.Get(EventStreamUrl());
  ctx_.Get(FolderCompletionEventsUrl());
  ctx_.Get(Rest(rest::kStatsFolder));
  ctx_.Get(Rest(rest::kSystemDiscovery));
  poll.inBytesTotal = 0;
  poll.outBytesTotal = 0;
  poll.previousInBytesTotal = 0;
  poll.previousOutBytesTotal = 0;
  ctx_.Get(Rest(rest::kSystemConnections));
  ctx_.Get(Rest(rest::kSystemStatus));
  ctx_.Get(Rest(rest::kSystemVersion));
  ctx_.Get(Rest(rest::kSystemError));
  if (model_.folder.FolderId().empty()) ctx_.FetchConfig(kKindFolderDiscovery, 0);
  ArmSilenceWatch();
}

// --- No engine --------------------------------------------------------------------

void StatusPoller::EngineGone(std::string_view why) {
  engineDown_ = true;
  ++downGeneration_;
  keyBeforeDown_ = model_.folder.StatusKey();
  // Without a timer nothing could probe: the requests then go on failing as
  // they come, as they would without this watch.
  if (scheduler_ != nullptr) requests_.Hold();
  model_.folder.engineAnswering.store(false);
  // The main window's data thread checks the engine on its next pass, which
  // may be a second away while its lists do not change.
  model_.changeBell.Ring();
  log_.Write(why);
  ctx_.SetStatusLabel(kEngineDownStatusKey);
  ArmProbe();
}

void StatusPoller::EngineBack() {
  engineDown_ = false;
  ++downGeneration_;
  model_.folder.engineAnswering.store(true);
  log_.Write(kLogEngineBack);
  const std::vector<PollRequest> waiting = requests_.Release();
  if (!model_.folder.FolderId().empty()) {
    // First, so the real state replaces the engine-down key within a moment.
    AskFolderStatusNow();
  } else if (!keyBeforeDown_.empty() && model_.folder.StatusKey() == kEngineDownStatusKey) {
    // No folder status will come to say what the state is.
    ctx_.SetStatusLabel(keyBeforeDown_);
  }
  for (const PollRequest& request : waiting) requests_.Submit(request);
}

void StatusPoller::ArmProbe() {
  if (scheduler_ == nullptr) return;
  const std::uint64_t generation = downGeneration_;
  scheduler_->RunAfter(engineWatch_.probeInterval, [this, generation] { Probe(generation); });
}

void StatusPoller::Probe(std::uint64_t generation) {
  ApplyPending();
  if (generation != downGeneration_ || !engineDown_) return;
  // The system status answers at once when there is an engine; one that is
  // on its way already (a stopped engine keeps it) is probe enough.
  requests_.SendPastHold(Rest(rest::kSystemStatus));
  ArmProbe();
}

void StatusPoller::ArmSilenceWatch() {
  if (scheduler_ == nullptr || engineDown_ || silenceWatchArmed_.exchange(true)) return;
  const auto oldest = requests_.OldestShortRequest();
  if (!oldest) {
    silenceWatchArmed_.store(false);
    return;
  }
  // A request that is late while the engine answers others (a slow folder
  // status of a large folder) is looked at again a while later, not in a
  // busy loop.
  const auto due = std::chrono::ceil<std::chrono::milliseconds>(*oldest + engineWatch_.silenceLimit -
                                                                 ctx_.clock.SteadyNow());
  if (!scheduler_->RunAfter(std::max(due, engineWatch_.silenceLimit / 4), [this] { SilenceWatch(); })) {
    silenceWatchArmed_.store(false);
  }
}

void StatusPoller::SilenceWatch() {
  silenceWatchArmed_.store(false);
  if (engineDown_) return;
  const auto now = ctx_.clock.SteadyNow();
  const auto oldest = requests_.OldestShortRequest();
  if (oldest && now - *oldest >= engineWatch_.silenceLimit && now - lastHeard_ >= engineWatch_.silenceLimit) {
    EngineGone(kLogEngineSilent);
    return;
  }
  ArmSilenceWatch();
}

void StatusPoller::Again(const std::string& url) {
  if (hidden_ && !KeepsFullPace(url)) {
    parked_.insert(url);
    return;
  }
  ctx_.Get(url);
}

void StatusPoller::CountAnswer() {
  std::int32_t& counter = model_.poll.answerCounter;
  ++counter;
  if (counter % 3 == 0) ctx_.Post(kMsgThisDeviceRefresh);
  if (counter % 5 == 0) ctx_.Post(kMsgRemoteDevicesRefresh);
}

void StatusPoller::WriteDebugFile(const char* name, const std::string& body) const {
  if (!debugDirectory_) return;
  std::ofstream out(*debugDirectory_ / name, std::ios::binary | std::ios::trunc);
  out.write(body.data(), static_cast<std::streamsize>(body.size()));
}

void StatusPoller::Dispatch(const PollAnswer& answer) {
  requests_.Answered(answer.request);
  ApplyPending();
  if (answer.reachedEngine) {
    lastHeard_ = ctx_.clock.SteadyNow();
    if (engineDown_) EngineBack();
  } else if (!engineDown_) {
    EngineGone(kLogEngineRefused);
  }
  // Known by its request: a failed transfer may come without an effective URL.
  if (answer.request.url.compare(0, WakeFeedPrefix().size(), WakeFeedPrefix()) == 0) {
    HandleWakeFeed(answer);
  } else {
    Route(answer);
  }
  ArmSilenceWatch();
}

void StatusPoller::Route(const PollAnswer& answer) {
  const std::string& url = !answer.effectiveUrl.empty() ? answer.effectiveUrl
                           : answer.reachedEngine       ? EventStreamUrl()
                                                        : answer.request.url;
  const std::string& body = answer.body;
  const std::int32_t kind = answer.request.kind;
  PollState& poll = model_.poll;
  // A transfer the engine never answered holds nothing to read: the parsers
  // (and their "empty answer" lines, ten a second without an engine) are
  // left out; what is asked again and the messages stay as they are.
  const bool answered = answer.reachedEngine;
  const auto parse = [&](const AnswerHandlers::Handler& handler) {
    if (answered) handler(ctx_, answer);
  };
  if (!body.empty() && url.find(RemoteCompletionPrefix()) != std::string::npos) {
    handlers_.remoteCompletion(ctx_, answer);
  }

  if (url == DiskEventsUrl(poll.diskEventsCursor)) {
    WriteDebugFile("disk.txt", body);
    parse(handlers_.diskEvents);
    // The disk feed is the engine's heartbeat, not a status answer: it does
    // not count towards the refresh messages.
    ctx_.Get(DiskEventsUrl(poll.diskEventsCursor));
    return;
  }

  const std::string folderId = model_.folder.FolderId();
  if (url == EventStreamUrl()) {
    WriteDebugFile("since.txt", body);
    parse(handlers_.eventStream);
    Again(url);
  } else if (url == Rest(rest::kStatsFolder)) {
    WriteDebugFile("stats.txt", body);
    parse(handlers_.folderStatistics);
    Again(url);
  } else if (url == FolderCompletionEventsUrl()) {
    WriteDebugFile("foldercompletion.txt", body);
    parse(handlers_.folderCompletionEvents);
    Again(url);
  } else if (url == rest::FolderUrl(rest::kDbOverride, folderId)) {
    WriteDebugFile("override.txt", body);
  } else if (url == rest::FolderUrl(rest::kDbStatus, folderId)) {
    WriteDebugFile("folder.txt", body);
    ctx_.answerRepeats = Repeats(url, body);
    parse(handlers_.folderStatus);
    ctx_.answerRepeats = false;
    if (kind == kKindResume && model_.folder.FolderStateText().empty()) {
      // The engine has not taken the resumed configuration yet.
      ctx_.FetchConfig(kKindResume);
    } else {
      Again(url);
    }
  } else if (!poll.unsyncedFilesUrl.empty() && url == poll.unsyncedFilesUrl) {
    WriteDebugFile("myfile.txt", body);
    parse(handlers_.unsyncedFiles);
    if (kind == kKindManualRefresh) ctx_.Send(kMsgRefreshDone);
  } else if (url == Rest(rest::kSystemConnections)) {
    parse(handlers_.connections);
    Again(url);
  } else if (url == Rest(rest::kSystemConfig)) {
    switch (kind) {
      case kKindPause:
      case kKindResume:
        HandlePauseFlag(answer);
        break;
      case kKindFolderDiscovery:
        parse(handlers_.folderFromConfig);
        break;
      case kKindDeviceNames:
        parse(handlers_.deviceNames);
        break;
      default:
        break;
    }
  } else if (const std::string failed = FailedFilesUrl(model_); !failed.empty() && url == failed) {
    WriteDebugFile("error.txt", body);
    parse(handlers_.failedFiles);
    if (kind == kKindManualRefresh) ctx_.Send(kMsgRefreshDone);
  } else if (const std::string changed = LocallyChangedUrl(model_); !changed.empty() && url == changed) {
    WriteDebugFile("loacalchanged.txt", body);
    parse(handlers_.locallyChanged);
  } else if (url == Rest(rest::kSystemDiscovery)) {
    parse(handlers_.discovery);
    Again(url);
  } else if (url == Rest(rest::kSystemStatus)) {
    parse(handlers_.systemStatus);
    Again(url);
  } else if (url == Rest(rest::kSystemVersion)) {
    parse(handlers_.systemVersion);
    Again(url);
  }
  CountAnswer();
}

void StatusPoller::HandlePauseFlag(const PollAnswer& answer) {
  const std::int32_t kind = answer.request.kind;
  const bool pause = kind == kKindPause;
  const std::string folderId = model_.folder.FolderId();
  const PauseEditResult edit = SetFoldersPaused(answer.body, folderId, pause);

  switch (edit.outcome) {
    case PauseEdit::kNotParsable:
      log_.Write("ConfigPaused 空的json");
      // A resume must reach the engine: ask again until it answers.
      if (!pause) ctx_.FetchConfig(kKindResume);
      break;
    case PauseEdit::kUnknownFolder:
      log_.Write("ConfigPaused 还未连接上");
      if (folderId.empty()) ctx_.FetchConfig(kKindFolderDiscovery, 0);
      ctx_.FetchConfig(kKindResume);
      break;
    case PauseEdit::kEdited:
      log_.Write("ConfigPaused 设置 暂停 恢复启动 获取同步文件夹ID");
      requests_.PostJson(Rest(rest::kSystemConfig), edit.document);
      if (!pause && !folderId.empty()) ctx_.Get(rest::FolderUrl(rest::kDbStatus, folderId), kKindResume);
      break;
  }
  if (pause && answer.request.parameter == kSettingsPause) model_.folder.pausing.store(0);
}

}  // namespace orlin
