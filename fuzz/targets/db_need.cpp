// The unsynced files (db/need): progress, queued and rest merged with the transfers in progress.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzUnsyncedFiles)
