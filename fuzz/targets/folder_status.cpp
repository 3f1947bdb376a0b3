// The folder status (db/status): state, status key, percent, progress, totals and the requests it starts.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzFolderStatus)
