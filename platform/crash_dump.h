#pragma once
// The crash handler: when the process dies of an unhandled fault, one dump
// file is written into the dump directory and the process ends; nothing is
// shown to the user.
//
// Windows: a top-level exception filter writes a minidump (MiniDumpWithDataSegs)
// of the process. POSIX: handlers of the fatal signals write a short text
// report (signal, process, thread, backtrace), then the signal takes its
// default course.
//
// The file is named "<YYYYMMDD>-<HHMMSS>-<pid>-<tid>.dmp" from the local time
// of the crash, e.g. "20200201-090503-100-7.dmp".

#include <cstdio>
#include <filesystem>
#include <string>

namespace orlin::platform {

struct CrashTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

inline std::string CrashDumpFileName(const CrashTime& t, unsigned long pid, unsigned long tid) {
  char name[260];
  std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%lu-%lu.dmp", t.year, t.month, t.day, t.hour,
                t.minute, t.second, pid, tid);
  return name;
}

// Installs the handler for the whole process. A relative `dumpDir` is taken
// relative to the current directory at the time of the call. The directory is
// created when the first crash happens. Returns false when the handler could
// not be installed.
bool InstallCrashHandler(const std::filesystem::path& dumpDir);

}  // namespace orlin::platform
