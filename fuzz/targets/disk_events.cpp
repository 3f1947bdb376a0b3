// The disk event feed (events/disk): sync-events rows, conflicts, files that arrived and the feed's cursor.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzDiskEvents)
