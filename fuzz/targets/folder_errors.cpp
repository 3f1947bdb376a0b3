// The failed files (folder/errors): path and the error text the user reads.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzFailedFiles)
