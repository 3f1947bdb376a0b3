// The general event feed (events?since=0&limit=1): device completion, scan figures, download progress, start-up labels.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzEventStream)
