#pragma once
// The status model: what the poller has learned about the engine, the folder
// and the devices, in fixed-width rows and capped lists.
//
// Threads: the poller's worker thread writes everything here. The main
// window's data thread and the UI thread read lists and summaries only
// through Snapshot()/Locked() (each list has its own lock) and the accessors
// of SharedFolderState (atomics and a small lock). PollState is touched by
// the worker thread only.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/text.h"
#include "monitor/format.h"

namespace orlin {

inline constexpr std::size_t kListCapacity = 1000;

template <std::size_t N>
void SetField(char (&field)[N], std::string_view text) {
  CopyToField(field, N, text);
}
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string_view(field, n);
}
// Paths, file names and error texts are held whole: they are shown with
// their last part and used to find the file again, so a cut (a Chinese path
// fills 260 bytes at about 86 characters) would name a different file.
inline void SetField(std::string& field, std::string_view text) { field.assign(text); }
inline std::string_view FieldText(const std::string& field) { return field; }

// One row of the sync-events list.
struct SyncEventRecord {
  char id[20] = {};
  char action[30] = {};  // "Local modified", "Remote deleted" or empty
  std::string path;      // relative to the sync folder, UTF-8
  char time[50] = {};
  std::uint64_t size = 0;
};

// One row of the conflicts list and of the locally-changed list.
struct PathTimeRecord {
  std::string path;  // relative to the sync folder, UTF-8
  char time[52] = {};
  std::uint64_t size = 0;
};

// Rows of the unsynced-files, in-progress transfers and last-synced lists.
struct FileItemRecord {
  std::string name;  // relative to the sync folder, UTF-8
  char status[10] = {};  // "progress", "queued", "rest" or empty
  char time[50] = {};
  char tag[52] = {};     // "lastfind": sized from the file on disk (statistics and disk-event rows)
  std::int32_t percent = 0;
  std::uint64_t size = 0;
};

// One row of the failed-files list.
struct ErrorRecord {
  std::string path;  // relative to the sync folder, UTF-8
  std::string error;
};

// One remote device as the engine reports it.
struct DeviceRecord {
  char address[30] = {};
  char uploadText[200] = {};
  char downloadText[200] = {};
  char name[200] = {};
  char folder[200] = {};
  char deviceId[200] = {};
  char time[50] = {};
  char clientVersion[56] = {};
  double completion = 0;
  double lastDownloadRate = 0;
  double lastUploadRate = 0;
  std::uint64_t globalBytes = 0;
  std::uint64_t needBytes = 0;
  std::uint64_t needItems = 0;
  std::uint64_t needDeletes = 0;
  std::uint64_t previousInBytesTotal = 0;
  std::uint64_t previousOutBytesTotal = 0;
  std::uint64_t inBytesTotal = 0;
  std::uint64_t outBytesTotal = 0;
  std::uint8_t paused = 0;
  std::uint8_t connected = 0;
  std::uint8_t completionRequested = 0;

  // A record for a device first seen in a completion event or a connection:
  // "-" texts, name "unknown", not connected.
  static DeviceRecord NewDevice(std::string_view deviceId);
};

// The engine's folder status as last read (db/status).
struct FolderStatus {
  std::uint64_t globalBytes = 0;
  std::uint64_t globalDeleted = 0;
  std::uint64_t globalDirectories = 0;
  std::uint64_t globalFiles = 0;
  std::uint64_t globalSymlinks = 0;
  std::uint64_t globalTotalItems = 0;
  bool ignorePatterns = false;
  std::uint64_t inSyncBytes = 0;
  std::uint64_t inSyncFiles = 0;
  std::string invalid;
  std::uint64_t localBytes = 0;
  std::uint64_t localDeleted = 0;
  std::uint64_t localDirectories = 0;
  std::uint64_t localFiles = 0;
  std::uint64_t localSymlinks = 0;
  std::uint64_t localTotalItems = 0;
  std::uint64_t needBytes = 0;
  std::uint64_t needDeletes = 0;
  std::uint64_t needDirectories = 0;
  std::uint64_t needFiles = 0;
  std::uint64_t needSymlinks = 0;
  std::uint64_t needTotalItems = 0;
  std::uint64_t pullErrors = 0;
  std::string state;
  std::uint64_t receiveOnlyTotalItems = 0;
  std::string watchError;
};

// This computer's engine.
struct SystemSummary {
  char versionText[52] = {};
  std::int32_t cpuPercent = 0;
  std::uint64_t memory = 0;
  BrokenDownDuration uptime;
  std::wstring fileCountText;
  std::wstring folderCountText;
  std::wstring sizeText;
  std::wstring downloadText;
  std::wstring uploadText;
};

// Rung whenever a list-changed flag is set, so that a reader that would
// otherwise look at the flags every 100 ms (the main window's data thread)
// can sleep until there is something to look at.
// Threads: Ring is called by the poller's worker thread; the listener runs
// there, under the bell's lock, and must only note the change and return.
// SetListener may be called from any thread; once it returns, the previous
// listener is not running and will not run again.
class ChangeBell {
 public:
  // `what` is the list that changed (its address), or null for anything.
  using Listener = std::function<void(const void* what)>;
  void SetListener(Listener listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
    listening_.store(static_cast<bool>(listener_), std::memory_order_release);
  }
  void Ring(const void* what = nullptr) const {
    if (!listening_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (listener_) listener_(what);
  }

 private:
  mutable std::mutex mutex_;
  Listener listener_;
  std::atomic<bool> listening_{false};
};

// A list shared between the worker thread and the readers, with its own lock
// and its list-changed flag.
template <typename T>
class GuardedList {
 public:
  // Copies the rows under the lock.
  std::vector<T> Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<T>(items_.begin(), items_.end());
  }
  std::size_t Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
  }
  // Runs fn(std::deque<T>&) under the lock and returns its result.
  template <typename Fn>
  decltype(auto) Locked(Fn&& fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    return fn(items_);
  }
  template <typename Fn>
  decltype(auto) Locked(Fn&& fn) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fn(static_cast<const std::deque<T>&>(items_));
  }
  // Appends under the lock, dropping the oldest rows beyond `capacity`.
  void AppendCapped(const T& item, std::size_t capacity = kListCapacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(item);
    while (items_.size() > capacity) items_.pop_front();
  }
  // Replaces the whole list under the lock.
  void Replace(std::vector<T> rows) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  }

  // The list-changed flag the data thread reads. Set after the lock is
  // released.
  // The flag belongs to the reader, so a reader with a const view may clear it.
  void MarkChanged() {
    changed_.store(true, std::memory_order_release);
    if (bell_ != nullptr) bell_->Ring(this);
  }
  // The bell MarkChanged rings (the model's).
  void AttachBell(const ChangeBell* bell) { bell_ = bell; }
  void ClearChanged() const { changed_.store(false, std::memory_order_release); }
  bool Changed() const { return changed_.load(std::memory_order_acquire); }
  // Reads and clears the flag.
  bool TakeChanged() const { return changed_.exchange(false, std::memory_order_acq_rel); }

 private:
  mutable std::mutex mutex_;
  std::deque<T> items_;
  mutable std::atomic<bool> changed_{false};
  const ChangeBell* bell_ = nullptr;
};

// The status key shown while no engine answers: what the user is told is
// that the engine is being started, never the last state it reported.
inline constexpr wchar_t kEngineDownStatusKey[] = L"Orlin Starting";

// Folder values read by other threads: the commands test the status code and
// the folder state, the revert waits on the locally-changed count.
class SharedFolderState {
 public:
  enum StatusCode : std::int32_t { kUpToDate = 0, kPaused = 1, kScanning = 2, kScanWaiting = 3, kSyncing = 4, kOutOfSync = 5 };
  enum FolderType : std::int32_t { kSendReceive = 0, kSendOnly = 1, kReceiveOnly = 2 };

  std::string FolderId() const;
  void SetFolderId(std::string_view id);
  std::string FolderStateText() const;
  void SetFolderStateText(std::string_view text);
  // The status label key as last derived ("Up to date", "Syncing_Event",
  // "Orlin Starting", ...); empty until the first one.
  std::wstring StatusKey() const;
  void SetStatusKey(std::wstring_view key);
  // How many times a status key was derived: a reader that waits for the
  // state to settle counts derivations, not changes.
  std::uint64_t StatusDerivations() const { return derivations_.load(); }

  std::atomic<std::int32_t> statusCode{kUpToDate};
  std::atomic<std::int32_t> folderPercent{0};
  // The value the progress bar shows: the folder percent (100 shown as 99
  // while bytes are missing) or, while scanning, the scan's progress.
  std::atomic<std::int32_t> progress{0};
  std::atomic<std::int32_t> folderType{kSendReceive};
  // Kind of the last system/config fetch issued (3, 4, 6 or 7).
  std::atomic<std::int32_t> lastConfigKind{0};
  // 8 while a settings pause is pending, 9 once the engine reported it.
  std::atomic<std::int32_t> pauseParameter{0};
  // 1 from a settings pause until its configuration answer was handled.
  std::atomic<std::uint8_t> pausing{0};
  // receiveOnlyTotalItems at the last locally-changed request.
  std::atomic<std::uint64_t> lastRequestedChangeCount{0};
  // needFiles of the last folder status: the count on the unsynced tab.
  std::atomic<std::uint64_t> unsyncedFileCount{0};
  // False while the engine does not answer (gone, being started again, or
  // stopped); the status key is kEngineDownStatusKey meanwhile. The folder
  // values above keep what the engine last said.
  std::atomic<bool> engineAnswering{true};

 private:
  mutable std::mutex mutex_;
  std::string folderId_;
  std::string folderStateText_;
  std::atomic<std::uint64_t> derivations_{0};
  std::wstring statusKey_;
};

// Paths seen once, remembered up to a bound: the oldest is forgotten first
// once `capacity` paths are held. Not thread-safe.
class BoundedPathSet {
 public:
  explicit BoundedPathSet(std::size_t capacity) : capacity_(capacity) {}
  bool Contains(std::string_view path) const { return paths_.count(std::string(path)) != 0; }
  // False when the path was already held.
  bool Insert(std::string_view path);
  std::size_t Size() const { return order_.size(); }
  std::size_t Capacity() const { return capacity_; }

 private:
  std::size_t capacity_;
  std::unordered_set<std::string> paths_;
  std::deque<std::string> order_;  // oldest first
};

// How many conflict paths are remembered after they left the conflicts
// list, so that a conflict reported again is not listed again as new.
inline constexpr std::size_t kSeenConflictsCapacity = 10 * kListCapacity;

// Worker-thread state of the poller.
struct PollState {
  std::string diskEventsCursor = "0";
  std::string lastGeneralEventId = "0";
  std::int32_t answerCounter = 0;
  std::string unsyncedFilesUrl;
  std::uint64_t storedMaximum = 0;
  std::vector<std::uint64_t> percentSamples;
  std::uint64_t lastRequestedNeedCount = 0;
  std::uint64_t lastRequestedErrorCount = 0;
  std::uint64_t scanTotal = 0;
  std::uint64_t scanCurrent = 0;
  std::uint64_t scanRate = 0;
  FolderStatus folderStatus;
  // Whether `folderStatus` holds the last folder status answer (false when
  // that answer could not be read).
  bool folderStatusRead = false;
  // Rates of the whole engine.
  std::uint64_t inBytesTotal = 0;
  std::uint64_t outBytesTotal = 0;
  std::uint64_t previousInBytesTotal = 0;
  std::uint64_t previousOutBytesTotal = 0;
  double lastDownloadRate = 0;
  double lastUploadRate = 0;
  double lastElapsedSeconds = 0;
  // The engine's start time as system/status last gave it: a new one means
  // the engine restarted and numbers its events from 1 again.
  std::string engineStartTime;
  // Every conflict path listed so far (bounded).
  BoundedPathSet seenConflicts{kSeenConflictsCapacity};
};

class StatusModel {
 public:
  StatusModel();
  StatusModel(const StatusModel&) = delete;
  StatusModel& operator=(const StatusModel&) = delete;

  // Rung when any list below is marked changed, and when the poller loses
  // the engine (the data thread's engine check is then wanted at once).
  // Readers set its listener, hence mutable.
  mutable ChangeBell changeBell;

  GuardedList<SyncEventRecord> syncEvents;
  GuardedList<PathTimeRecord> conflicts;
  GuardedList<DeviceRecord> devices;
  GuardedList<FileItemRecord> inProgress;
  GuardedList<FileItemRecord> unsynced;
  GuardedList<ErrorRecord> failed;
  GuardedList<PathTimeRecord> locallyChanged;
  GuardedList<FileItemRecord> lastSynced;

  SharedFolderState folder;
  PollState poll;  // worker thread only

  SystemSummary Summary() const;
  template <typename Fn>
  void UpdateSummary(Fn&& fn) {
    std::lock_guard<std::mutex> lock(summaryMutex_);
    fn(summary_);
  }

 private:
  mutable std::mutex summaryMutex_;
  SystemSummary summary_;
};

}  // namespace orlin
