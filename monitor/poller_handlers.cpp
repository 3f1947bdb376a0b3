// The poller's default handler table, kept apart so that a test of the
// dispatcher can bring its own table.
#include "monitor/answer_handlers.h"
#include "monitor/poller.h"

namespace orlin {

AnswerHandlers AnswerHandlers::Real() {
  AnswerHandlers table;
  table.diskEvents = HandleDiskEvents;
  table.eventStream = HandleEventStream;
  table.folderCompletionEvents = HandleFolderCompletionEvents;
  table.folderStatus = HandleFolderStatus;
  table.unsyncedFiles = HandleUnsyncedFiles;
  table.failedFiles = HandleFailedFiles;
  table.locallyChanged = HandleLocallyChanged;
  table.folderStatistics = HandleFolderStatistics;
  table.folderFromConfig = HandleFolderFromConfig;
  table.systemStatus = HandleSystemStatus;
  table.systemVersion = HandleSystemVersion;
  table.discovery = HandleDiscovery;
  table.connections = HandleConnections;
  table.deviceNames = HandleDeviceNames;
  table.remoteCompletion = HandleRemoteCompletion;
  return table;
}

}  // namespace orlin
