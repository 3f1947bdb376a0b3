// Stands in for Orlin in the watchdog's tests; copied into an install
// directory as "orlin". Like Orlin it starts the directory's Monitoring
// first. It notes its id in starts.txt, then does what the file "mode" says:
//   crash-on-request   waits for the file "crash", then crashes (abort)
//   exit-on-request    waits for the file "exit", then leaves the clean-exit
//                      note and ends with 0
//   crash-at-once      crashes as soon as the watchdog has seen it
// It waits at most two minutes for anything.

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/executable_path.h"
#include "platform/file_sync.h"
#include "platform/process.h"
#include "tools/monitoring/watchdog.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 1200; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace

int main() {
  using namespace orlin;
  const fs::path dir = platform::ExecutablePath().parent_path();
  const std::string me = std::to_string(platform::CurrentProcessId());
  std::ofstream(dir / "starts.txt", std::ios::app) << me << "\n";
  platform::SystemProcessTable().StartHidden(L"\"" + (dir / "Monitoring").wstring() + L"\"");

  const std::string mode = ReadAll(dir / "mode");
  if (mode.rfind("crash-at-once", 0) == 0) {
    // The watchdog names the process it watches or started in its log.
    WaitFor([&] { return ReadAll(watchdog::WatchdogLogPath(dir)).find("(process " + me + ")") != std::string::npos; });
    std::abort();
  }
  if (mode.rfind("crash-on-request", 0) == 0) {
    if (WaitFor([&] { return fs::exists(dir / "crash"); })) {
      fs::remove(dir / "crash");
      std::abort();
    }
    return 2;
  }
  if (mode.rfind("exit-on-request", 0) == 0) {
    if (WaitFor([&] { return fs::exists(dir / "exit"); })) {
      watchdog::SayCleanExit(dir);
      return 0;
    }
    return 2;
  }
  return 3;
}
