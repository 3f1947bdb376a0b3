#pragma once
// The settings the engine keeps in config.xml, handed to the running engine
// as well.
//
// The engine reads config.xml only when it starts, and every configuration
// post (a pause or resume posts the whole configuration back) makes it write
// the file again from what it holds in memory. An edit made only in the file
// is therefore lost at the next resume. The settings apply edits the file and
// then the engine's running configuration (GET system/config, change the same
// values, POST it back), so that both agree whatever the engine writes later.
//
// Threads: the edit is a pure function; Push blocks its caller (the settings
// apply worker) for at most the given wait.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/rest_paths.h"
#include "engine/sync_settings.h"

namespace orlin {

// Which values of a settings record the edit carries.
struct LiveSettingsFields {
  bool folderPath = false;
  bool rateLimits = false;
  bool folderType = false;
  bool pullOrder = false;
  bool versioning = false;

  bool Any() const { return folderPath || rateLimits || folderType || pullOrder || versioning; }
};

enum class LiveEdit {
  kEdited,         // `document` is the configuration to post
  kUnknownFolder,  // no folder with that id in the configuration
  kNotParsable,    // empty, not JSON, or not the engine's configuration
};

struct LiveEditResult {
  LiveEdit outcome = LiveEdit::kNotParsable;
  std::string document;
  bool folderPaused = false;  // the folder's `paused` member as it came
};

// Sets the chosen values of `settings` on the folder `folderId` (and the
// options) of the engine configuration `configuration`: `path`, `type`,
// `order`, `versioning` ("simple" with params.keep as text, or no type and
// no params for 0), options.maxSendKbps and options.maxRecvKbps. Every other
// member stays as the engine sent it.
LiveEditResult EditEngineConfiguration(std::string_view configuration, std::string_view folderId,
                                       const SyncSettings& settings, const LiveSettingsFields& fields);

// The two requests the push needs, so tests can play the engine.
class LiveConfigTransport {
 public:
  virtual ~LiveConfigTransport() = default;
  // GET system/config; nullopt when no answer with status 200 came.
  virtual std::optional<std::string> GetConfiguration() = 0;
  // POST system/config; true for status 200.
  virtual bool PostConfiguration(const std::string& document) = 0;
};

// The transport over the blocking HTTP client, with the engine's key.
class EngineLiveConfigTransport final : public LiveConfigTransport {
 public:
  EngineLiveConfigTransport(std::string apiKey, std::string restBase = std::string(rest::kBase));
  std::optional<std::string> GetConfiguration() override;
  bool PostConfiguration(const std::string& document) override;

 private:
  std::string apiKey_;
  std::string restBase_;
};

enum class LivePush {
  kPushed,         // the engine holds the new values
  kNothingToPush,  // no field chosen
  kNoEngine,       // the engine did not answer: it reads config.xml when it starts
  kRefused,        // the engine's configuration could not be edited or was not taken
};

struct LivePushOptions {
  // The settings pause reaches the engine as a configuration post of its
  // own; a push that overtook it would be undone by it. The push waits this
  // long for the folder to show paused before it goes ahead regardless.
  std::chrono::milliseconds pausedWait{10000};
  std::chrono::milliseconds step{100};
};

// The engine process's start time (system/status `startTime`), which
// changes with every restart; nullopt while it does not answer.
std::optional<std::string> QueryEngineStartTime(const std::string& apiKey,
                                                const std::string& restBase = std::string(rest::kBase));

// Waits until the engine answers with a start time other than `before` and
// keeps it for a moment (a reset right after a restart restarts it once
// more). False when `limit` passed first.
bool WaitForEngineRestarted(const std::string& apiKey, const std::optional<std::string>& before,
                            std::chrono::milliseconds limit,
                            const std::string& restBase = std::string(rest::kBase));

LivePush PushSettingsToEngine(LiveConfigTransport& transport, std::string_view folderId, const SyncSettings& settings,
                              const LiveSettingsFields& fields, LivePushOptions options = {});

}  // namespace orlin
