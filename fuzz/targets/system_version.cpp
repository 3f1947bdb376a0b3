// The engine's version (system/version) and the discovery answer (system/discovery).
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzSystemVersion)
