// The folder statistics (stats/folder): the last synced file of each folder and the folder it names.
#include "fuzz/monitor_answers.h"

ORLIN_FUZZ_MONITOR_TARGET(orlin::fuzz::FuzzFolderStatistics)
