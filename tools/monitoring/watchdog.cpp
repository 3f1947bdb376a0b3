#include "tools/monitoring/watchdog.h"

#include <ctime>
#include <fstream>
#include <thread>

#include "common/install_layout.h"
#include "common/text.h"
#include "platform/executable_path.h"
#include "platform/file_sync.h"
#include "platform/process_watch.h"

namespace orlin::watchdog {

using namespace std::chrono_literals;

std::optional<std::chrono::milliseconds> RestartPolicy::OnCrash(Clock::time_point now) {
  while (!crashes_.empty() && now - crashes_.front() >= kWindow) crashes_.pop_front();
  crashes_.push_back(now);
  const int inWindow = static_cast<int>(crashes_.size());
  if (inWindow >= kCrashLimit) return std::nullopt;
  return kFirstPause * (1 << (inWindow - 1));
}

namespace {

std::string Process(platform::ProcessId pid) { return "process " + std::to_string(pid); }

std::string Seconds(std::chrono::milliseconds ms) {
  return std::to_string(ms.count() / 1000) + (ms.count() % 1000 ? "." + std::to_string(ms.count() % 1000 / 100) : "") + " s";
}

}  // namespace

WatchdogEnd RunWatchdog(WatchdogSystem& system) {
  // Orlin started this watchdog, so it runs; the table may lag a moment.
  std::optional<platform::ProcessId> pid = system.FindOrlin();
  for (const auto giveUpAt = system.Now() + kFindGrace; !pid && system.Now() < giveUpAt;) {
    system.Sleep(1s);
    pid = system.FindOrlin();
  }
  if (!pid) {
    system.Log("Monitoring found no Orlin of this folder to watch and ends");
    return WatchdogEnd::kNoOrlin;
  }
  // A note left over from an earlier run says nothing about this one.
  system.TakeCleanExitNote(*pid);
  system.Log("Monitoring watches Orlin (" + Process(*pid) + ")");

  RestartPolicy policy;
  for (;;) {
    while (!system.WaitForEnd(*pid, 1h)) {
    }
    if (system.TakeCleanExitNote(*pid)) return WatchdogEnd::kCleanExit;
    std::string what = "Orlin (" + Process(*pid) + ") ended unexpectedly";
    for (;;) {
      auto pause = policy.OnCrash(system.Now());
      if (!pause) {
        system.Log(what + "; that is " + std::to_string(RestartPolicy::kCrashLimit) +
                   " times within a minute, so Monitoring gives up and does not start it again");
        return WatchdogEnd::kGaveUp;
      }
      system.Log(what + "; starting it again in " + Seconds(*pause));
      system.Sleep(*pause);
      pid = system.StartOrlin();
      if (pid) break;
      what = "Orlin could not be started";
    }
    system.Log("Orlin started again (" + Process(*pid) + ")");
  }
}

std::filesystem::path CleanExitNotePath(const std::filesystem::path& installDir) {
  return installDir / "orlin.clean-exit";
}

std::filesystem::path WatchdogLogPath(const std::filesystem::path& installDir) {
  return installDir / "log" / "Monitoring.txt";
}

std::wstring WatchdogClaimName(const std::filesystem::path& installDir) {
  std::error_code ec;
  auto dir = std::filesystem::absolute(installDir, ec).lexically_normal();
  if (dir.filename().empty() && dir.has_relative_path()) dir = dir.parent_path();
  const std::string key = AsciiLower(WideToUtf8(WideFromPath(dir)));
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : key) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  std::wstring name = L"MONITORING_ORLIN_";
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(L"0123456789abcdef"[(hash >> shift) & 0xF]);
  return name;
}

void SayCleanExit(const std::filesystem::path& installDir) {
  std::ofstream(CleanExitNotePath(installDir), std::ios::trunc) << platform::CurrentProcessId() << "\n";
}

SystemWatchdog::SystemWatchdog(std::filesystem::path installDir) : installDir_(std::move(installDir)) {}

std::filesystem::path SystemWatchdog::OrlinPath() const {
  return InstallLayout{installDir_}.OrlinProgram(platform::ExecutablePath().extension());
}

std::optional<platform::ProcessId> SystemWatchdog::FindOrlin() {
  auto entries = table_.Scan();
  if (!entries) return std::nullopt;
  const auto orlin = OrlinPath();
  for (const auto& entry : *entries) {
    const std::wstring name = AsciiLower(entry.imageName);
    if (name != L"orlin" && name != L"orlin.exe") continue;
    // Programs installed for every user run as one image for all of them.
    if (!entry.ownedByCurrentUser) continue;
    // Another install's Orlin is not ours to watch.
    auto image = platform::ProcessImagePath(entry.pid);
    std::error_code ec;
    if (image && std::filesystem::equivalent(*image, orlin, ec)) return entry.pid;
  }
  return std::nullopt;
}

bool SystemWatchdog::WaitForEnd(platform::ProcessId pid, std::chrono::milliseconds timeout) {
  switch (platform::WaitForProcessEnd(pid, timeout)) {
    case platform::ProcessWait::kEnded:
      return true;
    case platform::ProcessWait::kStillRuns:
      return false;
    case platform::ProcessWait::kCannotWatch:
      break;
  }
  // Not allowed to wait on it: look now and then whether it still runs Orlin.
  std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(timeout, 2s));
  auto image = platform::ProcessImagePath(pid);
  std::error_code ec;
  return !image || !std::filesystem::equivalent(*image, OrlinPath(), ec);
}

std::optional<platform::ProcessId> SystemWatchdog::StartOrlin() {
  return table_.StartHidden(L"\"" + WideFromPath(OrlinPath()) + L"\"");
}

bool SystemWatchdog::TakeCleanExitNote(platform::ProcessId pid) {
  const auto note = CleanExitNotePath(installDir_);
  std::string said;
  {
    std::ifstream in(note);
    if (!in || !std::getline(in, said)) return false;
  }
  std::error_code ec;
  std::filesystem::remove(note, ec);
  return said == std::to_string(pid);
}

void SystemWatchdog::Sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

void SystemWatchdog::Log(const std::string& line) {
  const auto file = WatchdogLogPath(installDir_);
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "";
  if (const std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
  std::ofstream(file, std::ios::app) << stamp << "   " << line << "\n";
}

}  // namespace orlin::watchdog
