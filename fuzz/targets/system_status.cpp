// This computer's engine (system/status): memory, CPU, uptime and the restart a new start time reveals.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzSystemStatus)
