#pragma once
// The commands Orlin sends the engine over its REST interface.
//
// The blocking ones (device ID, restart, reset, rescan, revert, override,
// the diagnostic add-folder) go through the blocking HTTP client on the
// caller's thread. Pause, resume and the folder identifier fetch only queue a
// configuration fetch on the request loop; the status poller handles its
// answer by the fetch's kind (3 pause, 4 resume, 6 folder identifier).
//
// What the commands need from the status poller (the folder identifier, the
// figures the waits watch, the request loop's queue, the refresh's tail)
// comes through PollerControl.
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

#include "engine/poller_control.h"
#include "engine/rest_paths.h"

namespace orlin {

namespace platform {
class CHttpClient;
}
class MessagePresenter;
class OwnerWindow;

class EngineCommands {
 public:
  // The addresses of engine/rest_paths.h, under the names callers know.
  static constexpr std::string_view kRestBase = rest::kBase;
  static constexpr std::string_view kDiagnosticRestBase = rest::kDiagnosticBase;
  static constexpr std::int32_t kKindPause = 3;
  static constexpr std::int32_t kKindResume = 4;
  static constexpr std::int32_t kKindFolderDiscovery = 6;
  // The pause parameter of a settings change, and the refresh parameter of
  // a settings apply (no end-of-refresh message).
  static constexpr std::int32_t kSettingsPause = 8;
  static constexpr std::int32_t kQuietRefresh = 9;

  // `http`, `presenter` and `poller` must outlive this object; `poller` is
  // not used before the first command. `restBase` and `diagnosticBase` exist
  // for tests; they end with "/rest/".
  EngineCommands(platform::CHttpClient& http, MessagePresenter& presenter, PollerControl& poller,
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
  // Restart, reset, rescan; the end-of-refresh message unless `parameter`
  // is kQuietRefresh; then the poller's feeds from their start and its first
  // batch.
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

 private:
  int Post(const std::string& url, std::wstring& answer);
  std::wstring KeyHeader() const;
  Outcome WaitFor(const std::function<bool()>& done, std::stop_token stop, std::chrono::milliseconds limit);
  void ShowFailure(const std::wstring& answer);

  platform::CHttpClient& http_;
  MessagePresenter& presenter_;
  PollerControl& poller_;
  std::string restBase_;
  std::string diagnosticBase_;
  std::atomic<OwnerWindow*> owner_{nullptr};
  mutable std::mutex mutex_;  // guards apiKey_ and serialises the client
  std::string apiKey_;
  std::mutex httpMutex_;
};

}  // namespace orlin
