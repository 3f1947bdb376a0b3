// Device names and addresses from the engine configuration (system/config of kind 7).
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzDeviceNames)
