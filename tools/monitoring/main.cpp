// Monitoring: the watchdog Orlin starts from its install directory (see
// watchdog.h). It takes no arguments.

#include <system_error>

#include "platform/install_directory.h"
#include "platform/single_instance.h"
#include "tools/monitoring/watchdog.h"

int main() {
  using namespace orlin;
  const auto installDir = platform::InstallDirectory();
  // Orlin finds its files from its working directory, and an Orlin started
  // again takes this one.
  std::error_code ec;
  std::filesystem::current_path(installDir, ec);
  // An Orlin started again starts a watchdog of its own; the one that
  // restarted it keeps watching (and counting the crashes).
  platform::SingleInstanceGuard claim(watchdog::WatchdogClaimName(installDir), installDir);
  if (claim.AnotherInstanceRuns()) return 0;
  watchdog::SystemWatchdog system(installDir);
  watchdog::RunWatchdog(system);
  return 0;
}
