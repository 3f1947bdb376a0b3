#pragma once
// What the engine commands (engine/rest_commands.h) need from the status
// poller: the folder it learnt, the figures the revert and override waits
// watch, and a way to put configuration fetches and the refresh's tail on the
// request loop. The status poller (monitor/poller.h) implements it; the
// commands' tests fake it.
//
// Threads: every method may be called from any thread (the commands run on
// the UI thread and on worker threads); the implementation hands whatever
// touches the poll state to the request loop thread.

#include <cstdint>
#include <string>

namespace orlin {

class PollerControl {
 public:
  virtual ~PollerControl() = default;

  // The engine folder this client manages; empty until the poller learnt it.
  virtual std::string FolderId() const = 0;
  // The folder's state text as last derived ("idle", "outofsync", ...).
  virtual std::string FolderStateText() const = 0;
  // Locally changed items of a receive-only folder as last seen (0 for the
  // other folder types).
  virtual std::int64_t LocalChangeCount() const = 0;

  // Queues a system/config GET whose answer the poller handles by `kind`
  // (3 pause, 4 resume, 6 folder identifier).
  virtual void SubmitConfigFetch(std::int32_t kind, std::int32_t parameter) = 0;
  // A pause for a settings change begins: the toolbar stays locked until the
  // engine reports the folder paused.
  virtual void SettingsPauseBegins() = 0;
  // The tail of the engine refresh: the event feeds from their start and the
  // first batch again; the refresh-done message unless `parameter` is 9.
  virtual void Reprime(std::int32_t parameter) = 0;
};

}  // namespace orlin
