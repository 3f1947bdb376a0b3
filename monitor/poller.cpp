#include "monitor/poller.h"

#include <fstream>

#include "engine/request_loop.h"
#include "monitor/answer_handlers.h"
#include "monitor/config_pause.h"

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

}  // namespace

// --- Tracking of periodic GETs ------------------------------------------------

void StatusPoller::TrackingSink::Submit(const PollRequest& request) {
  if (request.kind == kKindPeriodic) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t& count = inFlight_[request.url];
    if (count > 0) return;
    ++count;
  }
  inner_.Submit(request);
}

void StatusPoller::TrackingSink::Answered(const PollRequest& request) {
  if (request.kind != kKindPeriodic) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = inFlight_.find(request.url);
  if (found == inFlight_.end()) return;
  if (--found->second == 0) inFlight_.erase(found);
}

void StatusPoller::TrackingSink::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  inFlight_.clear();
}

std::size_t StatusPoller::TrackingSink::InFlight(const std::string& url) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = inFlight_.find(url);
  return found == inFlight_.end() ? 0 : found->second;
}

// --- The poller -----------------------------------------------------------------

StatusPoller::StatusPoller(StatusModel& model, DiagnosticLog& log, RequestSink& requests, Clock& clock,
                           StatusPollerSetup setup, AnswerHandlers handlers)
    : model_(model),
      log_(log),
      requests_(requests),
      debugDirectory_(std::move(setup.debugDirectory)),
      handlers_(std::move(handlers)),
      ctx_{model, log, requests_, clock, setup.window, setup.view, clock.SteadyNow()} {}

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
        FirstBatch();
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
  if (parameter != kQuietRefresh) ctx_.Send(kMsgRefreshDone);
  FirstBatch();
}

void StatusPoller::RequestNow(ManualList list) {
  pendingManual_.fetch_or(static_cast<std::uint32_t>(list));
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
}

void StatusPoller::Again(const PollAnswer& answer) { ctx_.Get(answer.request.url); }

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
  if (const std::int64_t pending = pendingReprime_.exchange(0); pending != 0) {
    ApplyReprime(static_cast<std::int32_t>(pending - 1));
  }
  if (const std::uint32_t lists = pendingManual_.exchange(0); lists != 0) ApplyManualRequests(lists);

  const std::string& url = answer.effectiveUrl.empty() ? EventStreamUrl() : answer.effectiveUrl;
  const std::string& body = answer.body;
  const std::int32_t kind = answer.request.kind;
  PollState& poll = model_.poll;

  if (!body.empty() && url.find(RemoteCompletionPrefix()) != std::string::npos) {
    handlers_.remoteCompletion(ctx_, answer);
  }

  if (url == DiskEventsUrl(poll.diskEventsCursor)) {
    WriteDebugFile("disk.txt", body);
    handlers_.diskEvents(ctx_, answer);
    // The disk feed is the engine's heartbeat, not a status answer: it does
    // not count towards the refresh messages.
    ctx_.Get(DiskEventsUrl(poll.diskEventsCursor));
    return;
  }

  const std::string folderId = model_.folder.FolderId();
  if (url == EventStreamUrl()) {
    WriteDebugFile("since.txt", body);
    handlers_.eventStream(ctx_, answer);
    Again(answer);
  } else if (url == Rest(rest::kStatsFolder)) {
    WriteDebugFile("stats.txt", body);
    handlers_.folderStatistics(ctx_, answer);
    Again(answer);
  } else if (url == FolderCompletionEventsUrl()) {
    WriteDebugFile("foldercompletion.txt", body);
    handlers_.folderCompletionEvents(ctx_, answer);
    Again(answer);
  } else if (url == rest::FolderUrl(rest::kDbOverride, folderId)) {
    WriteDebugFile("override.txt", body);
  } else if (url == rest::FolderUrl(rest::kDbStatus, folderId)) {
    WriteDebugFile("folder.txt", body);
    handlers_.folderStatus(ctx_, answer);
    if (kind == kKindResume && model_.folder.FolderStateText().empty()) {
      // The engine has not taken the resumed configuration yet.
      ctx_.FetchConfig(kKindResume);
    } else {
      ctx_.Get(url);
    }
  } else if (!poll.unsyncedFilesUrl.empty() && url == poll.unsyncedFilesUrl) {
    WriteDebugFile("myfile.txt", body);
    handlers_.unsyncedFiles(ctx_, answer);
    if (kind == kKindManualRefresh) ctx_.Send(kMsgRefreshDone);
  } else if (url == Rest(rest::kSystemConnections)) {
    handlers_.connections(ctx_, answer);
    Again(answer);
  } else if (url == Rest(rest::kSystemConfig)) {
    switch (kind) {
      case kKindPause:
      case kKindResume:
        HandlePauseFlag(answer);
        break;
      case kKindFolderDiscovery:
        handlers_.folderFromConfig(ctx_, answer);
        break;
      case kKindDeviceNames:
        handlers_.deviceNames(ctx_, answer);
        break;
      default:
        break;
    }
  } else if (const std::string failed = FailedFilesUrl(model_); !failed.empty() && url == failed) {
    WriteDebugFile("error.txt", body);
    handlers_.failedFiles(ctx_, answer);
    if (kind == kKindManualRefresh) ctx_.Send(kMsgRefreshDone);
  } else if (const std::string changed = LocallyChangedUrl(model_); !changed.empty() && url == changed) {
    WriteDebugFile("loacalchanged.txt", body);
    handlers_.locallyChanged(ctx_, answer);
  } else if (url == Rest(rest::kSystemDiscovery)) {
    handlers_.discovery(ctx_, answer);
    Again(answer);
  } else if (url == Rest(rest::kSystemStatus)) {
    handlers_.systemStatus(ctx_, answer);
    Again(answer);
  } else if (url == Rest(rest::kSystemVersion)) {
    handlers_.systemVersion(ctx_, answer);
    Again(answer);
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
