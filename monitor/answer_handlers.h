#pragma once
// The answer handlers: what the poller's dispatcher calls with a finished
// answer once it has matched the answer's URL. A handler parses the body,
// updates the status model, writes its diagnostic log line, and issues the
// follow-up requests that belong to the answer itself (for example the
// unsynced-files request a folder status answer asks for). Re-requesting the
// same URL, the debug files and the answer counter are the dispatcher's
// (monitor/poller.h), not the handlers'.
//
// Every handler runs on the request loop thread. An empty, truncated, non-JSON
// or wrongly typed body is nothing to do: the handler writes its empty-answer
// log line (where it has one) and returns without touching the model.

#include "monitor/monitor_context.h"

namespace orlin {

// --- The engine's event feeds (monitor/events.cpp) --------------------------

// events/disk: wraps a body that does not start with "[" in "[" "]", does
// nothing while the folder is paused, appends disk events to the sync-events
// and conflicts lists and advances model.poll.diskEventsCursor.
void HandleDiskEvents(MonitorContext& ctx, const PollAnswer& answer);
// events?since=0&limit=1: the general feed; nothing while paused.
void HandleEventStream(MonitorContext& ctx, const PollAnswer& answer);
// events?since=0&events=FolderCompletion: completion of every folder.
void HandleFolderCompletionEvents(MonitorContext& ctx, const PollAnswer& answer);

// events/disk after `cursor`.
std::string DiskEventsUrl(std::string_view cursor);
// The engine restarted and numbers its events from 1 again: both event
// positions back to "0" and the disk feed asked from its start (the request
// still waiting under the old cursor is no longer the feed's).
void StartEventFeedsOver(MonitorContext& ctx);

// --- Folder state and file lists (monitor/folder.cpp) -----------------------

// db/status?folder=: the folder status and everything derived from it.
void HandleFolderStatus(MonitorContext& ctx, const PollAnswer& answer);
// The answer to model.poll.unsyncedFilesUrl (db/need).
void HandleUnsyncedFiles(MonitorContext& ctx, const PollAnswer& answer);
// folder/errors?folder=...&page=1&perpage=N.
void HandleFailedFiles(MonitorContext& ctx, const PollAnswer& answer);
// db/localchanged?folder=...&page=1&perpage=N.
void HandleLocallyChanged(MonitorContext& ctx, const PollAnswer& answer);
// stats/folder: last synced files and the folder discovery it may trigger.
void HandleFolderStatistics(MonitorContext& ctx, const PollAnswer& answer);
// system/config of kind 6: the folder identifier (parameter 4 then fetches
// the configuration again with kind 4).
void HandleFolderFromConfig(MonitorContext& ctx, const PollAnswer& answer);

// The URLs of the folder requests as the dispatcher compares them; empty
// while the folder identifier is unknown.
std::string FailedFilesUrl(const StatusModel& model);
std::string LocallyChangedUrl(const StatusModel& model);
// db/need for `folderId`, one page of 1000.
std::string UnsyncedFilesUrl(std::string_view folderId);

// --- Devices and this system (monitor/devices.cpp) --------------------------

void HandleSystemStatus(MonitorContext& ctx, const PollAnswer& answer);
void HandleSystemVersion(MonitorContext& ctx, const PollAnswer& answer);
void HandleDiscovery(MonitorContext& ctx, const PollAnswer& answer);
void HandleConnections(MonitorContext& ctx, const PollAnswer& answer);
// system/config of kind 7: device names and addresses.
void HandleDeviceNames(MonitorContext& ctx, const PollAnswer& answer);
// db/completion?folder=...&device=...: offered to every device record; the
// dispatcher calls it for a non-empty body before matching the table.
void HandleRemoteCompletion(MonitorContext& ctx, const PollAnswer& answer);

}  // namespace orlin
