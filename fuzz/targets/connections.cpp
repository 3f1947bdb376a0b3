// The connections (system/connections): device records, addresses, byte totals and rates.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzConnections)
