// A remote device's completion (db/completion?folder=...&device=...).
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzRemoteCompletion)
