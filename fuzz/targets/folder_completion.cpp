// The folder-completion feed (events?since=0&events=FolderCompletion), read with cJSON.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzFolderCompletion)
