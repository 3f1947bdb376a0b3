// The locally changed items of a receive-only folder (db/localchanged).
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzLocallyChanged)
