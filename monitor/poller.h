#pragma once
// The status poller: keeps the status model current by polling the engine's
// REST interface on the request loop.
//
// The first batch submits one GET per status endpoint; from then on every
// answer is dispatched by its exact URL to its handler (monitor/
// answer_handlers.h) and, for the status endpoints, the same URL is asked
// again at once, so about eight requests circulate for good, paced by the
// loop's pause after each finished transfer. The same dispatcher handles the
// configuration fetches of the pause, resume and folder commands (kinds 3,
// 4, 6 and 7).
//
// Threads: Dispatch, the handlers and every circulating request run on the
// request loop thread. Start, Reprime, SubmitConfigFetch and Stop may be
// called from any other thread. A Re-prime while the loop runs is applied by
// the loop thread at its next answer (answers keep arriving while requests
// circulate, empty ones too), so the poll state is only touched there.
//
// Pace while nobody looks: SetViewVisible(false) says that no window shows
// what the status endpoints feed (the main window is in the tray or
// minimised). Then
//   - the disk feed keeps long-polling from its cursor exactly as before;
//   - every other circulating endpoint (event stream, folder completion
//     events, statistics, discovery, connections, system status, version,
//     folder status) is no longer asked again at once: its URL waits
//     ("parked") and all waiting URLs are asked together once per
//     `HiddenPace::interval`;
//   - a wake feed, a long poll on the engine's general events limited to
//     folder state, summary, error, pause and configuration changes, asks
//     the folder status at once whenever the engine reports one, so the
//     override and local-changes messages, the failed count, the toolbar
//     lock and the status label follow a change within a moment;
//   - while a settings pause waits for the engine to report the folder
//     paused, the folder status keeps the full pace.
// SetViewVisible(true) asks every waiting URL at once (the folder status,
// connections and system status first) and the full pace resumes; the
// totals are taken from the first folder status answer.
//
// No engine: a transfer that gets no answer from the engine at all (refused,
// cut off, stalled) says that the engine is gone or being started again. The
// status key turns to kEngineDownStatusKey at once (the last state the
// engine reported is not true any more, and "Up to date" would hide that
// nothing syncs) and the model's engineAnswering flag goes false. Meanwhile
// no parser runs on the failed transfers, and the requests do not fail ten
// times a second: everything the poller asks waits, and one probe (the
// system status) is sent every `EngineWatch::probeInterval`. The first answer
// of the engine sends every waiting request, the folder status first, whose
// answer puts the real state back. An engine that stops answering without
// closing its connections (stopped, hung) is taken for gone once its short
// requests have waited `EngineWatch::silenceLimit` and nothing else answered.
//
// Duplicates: a periodic GET whose URL is already on its way is not sent
// again. The folder status can be started from several answers (statistics,
// discovery, resume) and a Re-prime starts the first batch while the earlier
// requests still circulate; without this the circulation would grow with
// every refresh.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/poller_control.h"
#include "monitor/monitor_context.h"

namespace orlin {

class RequestLoop;

// Which handler takes which answer; tests replace entries to see the routing.
struct AnswerHandlers {
  using Handler = std::function<void(MonitorContext&, const PollAnswer&)>;
  Handler diskEvents, eventStream, folderCompletionEvents;
  Handler folderStatus, unsyncedFiles, failedFiles, locallyChanged, folderStatistics, folderFromConfig;
  Handler systemStatus, systemVersion, discovery, connections, deviceNames, remoteCompletion;

  // The handlers of monitor/answer_handlers.h.
  static AnswerHandlers Real();
};

// The pace while no window shows the status.
struct HiddenPace {
  // How often the waiting endpoints are asked.
  std::chrono::milliseconds interval{60000};
  // How long the engine holds the wake feed open when nothing happens.
  int wakeTimeoutSeconds = 60;
  // A wake feed that failed (the engine is gone or restarting) is asked
  // again after this, not at once, so a missing engine costs no busy loop.
  std::chrono::milliseconds wakeRetry{2000};
};

// How the poller notices an engine that does not answer, and how it asks
// while there is none.
struct EngineWatch {
  // While no engine answers, one probe goes out this often; the data
  // thread's engine check starts a new engine within a pass, which answers
  // about a second and a half later.
  std::chrono::milliseconds probeInterval{500};
  // Short requests (everything but the event feeds, which the engine holds
  // open for up to a minute) unanswered this long, with no other answer
  // meanwhile, mean that the engine has stopped answering.
  std::chrono::milliseconds silenceLimit{10000};
};

// The API key travels with the RequestSink, which adds the key header.
struct StatusPollerSetup {
  // Where the last answer of each endpoint is kept ("disk.txt", ...); none
  // are written while unset.
  std::optional<std::filesystem::path> debugDirectory;
  OwnerWindow* window = nullptr;  // no message while unset
  StatusView* view = nullptr;     // no direct call while unset
  // The request loop's timer; while unset the hidden pace has no timer
  // (waiting endpoints are asked only when a window shows again) and
  // nothing wakes a loop that waits for a long poll.
  PollScheduler* scheduler = nullptr;
  HiddenPace hiddenPace;
  EngineWatch engineWatch;
};

// It is also what the engine commands see of the poller (PollerControl).
class StatusPoller final : public PollerControl {
 public:
  StatusPoller(StatusModel& model, DiagnosticLog& log, RequestSink& requests, Clock& clock,
               StatusPollerSetup setup = {}, AnswerHandlers handlers = AnswerHandlers::Real());
  // Stops the loop given to Start: its tasks hold this poller.
  ~StatusPoller() override;
  StatusPoller(const StatusPoller&) = delete;
  StatusPoller& operator=(const StatusPoller&) = delete;

  // Starts `loop` with the first batch as its first step. On a loop that
  // already runs this is the resume: only a configuration fetch of kind 4.
  // Returns false when the loop could not be started.
  bool Start(RequestLoop& loop);
  // The tail of the engine refresh: event positions back to "0", download
  // totals to zero, message 2042 unless `parameter` is 9, then the first
  // batch again.
  void Reprime(std::int32_t parameter) override;
  // Queues a system/config GET of `kind` (3 pause, 4 resume, 6 folder, 7
  // device names).
  void SubmitConfigFetch(std::int32_t kind, std::int32_t parameter) override;
  // The folder identifier, state text and locally changed count of the model.
  std::string FolderId() const override;
  std::string FolderStateText() const override;
  std::int64_t LocalChangeCount() const override;
  // Parameter 8 pending and the pausing flag set, until the engine reports
  // the folder paused.
  void SettingsPauseBegins() override;
  // A list the window wants at once, asked with kind 1 (the refresh-done
  // message follows its answer). Applied by the loop thread at its next
  // answer, like a Re-prime, since the URLs depend on the poll state.
  enum class ManualList : std::uint32_t { kUnsynced = 1, kLocallyChanged = 2, kFailed = 4 };
  void RequestNow(ManualList list);
  // Whether a window shows what the poller feeds (see the top of this
  // file). Any thread; applied on the loop thread at once.
  void SetViewVisible(bool visible);
  bool ViewVisible() const { return wantVisible_.load(); }
  // Stops the loop given to Start; requests still on their way are dropped.
  // Safe to repeat. Returns false when the loop thread did not end in time.
  bool Stop();
  bool IsRunning() const;

  // --- The loop's completions call these; tests call them directly.
  void FirstBatch();
  void Dispatch(const PollAnswer& answer);
  // Periodic GETs submitted and not yet answered with this URL.
  std::size_t InFlight(const std::string& url) const;
  // Endpoints waiting for the hidden pace's next round (loop thread).
  const std::set<std::string>& Waiting() const { return parked_; }
  // The wake feed's URL for the current cursor (loop thread).
  std::string WakeFeedUrl() const;
  // Whether the poller takes the engine for gone (loop thread).
  bool EngineDown() const { return engineDown_; }
  // Requests waiting for the engine to answer again.
  std::size_t WaitingForEngine() const { return requests_.HeldCount(); }

 private:
  // Sits between the handlers and the real sink: counts periodic GETs on
  // their way and drops a second one for the same URL.
  // It also keeps requests back while the engine does not answer.
  class TrackingSink final : public RequestSink {
   public:
    TrackingSink(RequestSink& inner, Clock& clock) : inner_(inner), clock_(clock) {}
    void Submit(const PollRequest& request) override;
    void PostJson(const std::string& url, const std::string& body) override { inner_.PostJson(url, body); }
    void Answered(const PollRequest& request);
    void Forget();
    std::size_t InFlight(const std::string& url) const;

    // From Hold to Release, requests wait here (each one once) instead of
    // going out, except a list the window asked for, whose refresh-done
    // message must not wait for the engine.
    void Hold();
    std::vector<PollRequest> Release();
    std::size_t HeldCount() const;
    // Sends the held (or a new) periodic GET of `url` during a hold; false
    // when one is on its way already.
    bool SendPastHold(const std::string& url);
    // Since when the oldest short periodic GET on its way has waited.
    std::optional<std::chrono::steady_clock::time_point> OldestShortRequest() const;

   private:
    struct Out {
      std::size_t count = 0;
      std::chrono::steady_clock::time_point since{};
    };
    void SendLocked(const PollRequest& request, std::unique_lock<std::mutex>& lock);

    RequestSink& inner_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::map<std::string, Out> inFlight_;
    bool holding_ = false;
    std::vector<PollRequest> held_;
  };

  // Hands an answer to its handler and asks again what circulates.
  void Route(const PollAnswer& answer);
  void Again(const std::string& url);
  void CountAnswer();
  // Whatever other threads asked for (Re-prime, lists, visibility), on the
  // loop thread.
  void ApplyPending();
  // Runs ApplyPending on the loop thread without waiting for an answer,
  // which may be a minute away while hidden.
  void WakeLoop();
  void ApplyVisibility(bool visible);
  void ArmHiddenRound();
  void HiddenRound(std::uint64_t generation);
  void AskWaiting();
  void AskWakeFeed();
  void HandleWakeFeed(const PollAnswer& answer);
  void AskFolderStatusNow();
  bool KeepsFullPace(const std::string& url) const;
  // Marks whether `body` repeats the previous answer of `url`.
  bool Repeats(const std::string& url, const std::string& body);
  void WriteDebugFile(const char* name, const std::string& body) const;
  void HandlePauseFlag(const PollAnswer& answer);
  void ApplyReprime(std::int32_t parameter);
  void ApplyManualRequests(std::uint32_t lists);
  // The engine-down state (loop thread).
  void EngineGone(std::string_view why);
  void EngineBack();
  void ArmProbe();
  void Probe(std::uint64_t generation);
  void ArmSilenceWatch();
  void SilenceWatch();

  StatusModel& model_;
  DiagnosticLog& log_;
  TrackingSink requests_;
  std::optional<std::filesystem::path> debugDirectory_;
  AnswerHandlers handlers_;
  MonitorContext ctx_;

  mutable std::mutex loopMutex_;  // guards loop_
  RequestLoop* loop_ = nullptr;
  // A Re-prime waiting for the loop thread: parameter + 1, 0 for none.
  std::atomic<std::int64_t> pendingReprime_{0};
  // ManualList bits waiting for the loop thread.
  std::atomic<std::uint32_t> pendingManual_{0};
  std::atomic<bool> wantVisible_{true};

  // Loop thread only.
  PollScheduler* scheduler_;
  HiddenPace hiddenPace_;
  bool hidden_ = false;
  // Changes with every change of pace; a timer armed for an older one does
  // nothing.
  std::uint64_t paceGeneration_ = 0;
  std::set<std::string> parked_;
  bool wakeFeedOut_ = false;
  std::string wakeCursor_ = "0";
  std::unordered_map<std::string, std::string> lastBodies_;

  // The engine-down state. Loop thread, except the watch's armed flag.
  EngineWatch engineWatch_;
  bool engineDown_ = false;
  // Changes whenever the engine goes or comes back; a probe armed for an
  // older one does nothing.
  std::uint64_t downGeneration_ = 0;
  // The key shown before the engine went, for a folder that is not known
  // yet (no folder status will bring the real state back).
  std::wstring keyBeforeDown_;
  std::chrono::steady_clock::time_point lastHeard_{};
  std::atomic<bool> silenceWatchArmed_{false};
};

}  // namespace orlin
