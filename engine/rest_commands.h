#pragma once
// The commands Orlin sends the engine over its REST interface.
//
// The blocking ones (device ID, restart, reset, rescan, revert, override,
// the diagnostic add-folder) go through the blocking HTTP client on the
// caller's thread. Pause, resume and the folder identifier fetch only queue a
// configuration fetch on the request loop; the status poller handles its
// answer by the fetch's kind (3 pause, 4 resume, 6 folder identifier).
//
// The commands do not know the poller: what they need from it (the folder
// identifier, the counts the waits watch, the queue, the tail of the refresh)
// comes in through EngineCommandHooks, which the controller wires.
//
// Threads: every method may be called from any thread; the blocking ones
// block their caller. The HTTP client is used under a lock, so two threads
// never share a transfer.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace orlin {

namespace platform {
class CHttpClient;
}
class MessagePresenter;
class OwnerWindow;

struct EngineCommandHooks {
  // The engine folder this client manages; empty until the poller learned it.
  std::function<std::string()> folderId;
  // Queues a system/config GET with this kind and parameter on the request loop.
  std::function<void(std::int32_t kind, std::int32_t parameter)> submitConfigFetch;
  // A settings pause (parameter 8) begins: the poller's pause flags are set.
  std::function<void()> settingsPauseBegins;
  // Event positions back to "0" and the item counters to zero.
  std::function<void()> resetPollerPositions;
  // The first batch of the poller again (the refresh's last step).
  std::function<void()> reprime;
  // Locally changed items of a receive-only folder as the poller last saw them.
  std::function<std::int64_t()> localChangeCount;
  // The folder's state text as the poller last derived it ("outofsync", ...).
  std::function<std::string()> folderStateText;
};

class EngineCommands {
 public:
  static constexpr std::string_view kRestBase = "http://localhost:18384/rest/";
  static constexpr std::string_view kDiagnosticRestBase = "http://localhost:8384/rest/";
  static constexpr std::int32_t kKindPause = 3;
  static constexpr std::int32_t kKindResume = 4;
  static constexpr std::int32_t kKindFolderDiscovery = 6;
  // The pause parameter of a settings change, and the refresh parameter of
  // a settings apply (no end-of-refresh message).
  static constexpr std::int32_t kSettingsPause = 8;
  static constexpr std::int32_t kQuietRefresh = 9;

  // `http` and `presenter` must outlive this object. `restBase` and
  // `diagnosticBase` exist for tests; they end with "/rest/".
  EngineCommands(platform::CHttpClient& http, MessagePresenter& presenter, EngineCommandHooks hooks,
                 std::string restBase = std::string(kRestBase),
                 std::string diagnosticBase = std::string(kDiagnosticRestBase));

  void SetApiKey(std::string apiKey);
  std::string ApiKey() const;
  void SetOwner(OwnerWindow* owner) { owner_.store(owner); }

  // The answer's JSON starts at its first "{"; text before it is ignored.
  // nullopt when there is no "{", the JSON does not parse or has no string
  // member myID.
  static std::optional<std::wstring> ParseDeviceId(std::wstring_view answer);
  // GET system/status and take myID.
  std::optional<std::wstring> QueryDeviceId();

  void Pause(std::int32_t parameter);
  void Resume();
  // Does nothing while the folder identifier is known.
  void FetchFolderIdentifier(std::int32_t parameter);

  // Each POSTs an empty body; the results are not examined.
  void Restart();
  void Reset();
  void Rescan();
  // Restart, reset, rescan; the poller's positions back to the start; the
  // end-of-refresh message unless `parameter` is kQuietRefresh; the poller's
  // first batch.
  void Refresh(std::int32_t parameter);

  enum class Outcome {
    kNothingToDo,  // the folder is not known yet: nothing was sent
    kDone,         // the engine took it and the poller saw the result
    kFailed,       // the engine refused or could not be reached (message shown)
    kGaveUp,       // taken, but the poller did not see the result in time (or stopped)
  };
  // POST db/revert and wait, checking every 100 ms, until the locally changed
  // count is 0 or less.
  Outcome Revert(std::stop_token stop = {}, std::chrono::milliseconds limit = kDefaultWaitLimit);
  // POST db/override, wait while the folder state is "outofsync", then
  // fetch the folder identifier.
  Outcome Override(std::stop_token stop = {}, std::chrono::milliseconds limit = kDefaultWaitLimit);

  // The diagnostic add-folder through the configuration on port 8384:
  // returns the new folder's id, or "" when the random string did not come.
  // `workDir` receives customconfig.json.
  std::string AddTestFolder(const std::string& workDir);

  // How long revert and override wait for the poller at most. The engine
  // normally finishes within seconds; a poller that stopped must not keep
  // the caller (the UI thread) waiting for ever.
  static constexpr std::chrono::milliseconds kDefaultWaitLimit{120000};

  // What the command sequence did, for the commands that change state.
  std::atomic<std::int32_t> stateWord{0};
  std::atomic<std::int32_t> previousStateWord{0};
  std::atomic<std::int32_t> currentCommand{0};
  std::atomic<std::int32_t> pauseReason{0};

 private:
  int Post(const std::string& url, std::wstring& answer);
  std::wstring KeyHeader() const;
  Outcome WaitFor(const std::function<bool()>& done, std::stop_token stop, std::chrono::milliseconds limit);
  void ShowFailure(const std::wstring& answer);

  platform::CHttpClient& http_;
  MessagePresenter& presenter_;
  EngineCommandHooks hooks_;
  std::string restBase_;
  std::string diagnosticBase_;
  std::atomic<OwnerWindow*> owner_{nullptr};
  mutable std::mutex mutex_;  // guards apiKey_ and serialises the client
  std::string apiKey_;
  std::mutex httpMutex_;
};

}  // namespace orlin
