// The folder identifier from the engine configuration (system/config of the folder discovery).
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzFolderFromConfig)
