#include "engine_harness.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "common/text.h"
#include "rest_probe.h"

namespace orlin::testsupport {
namespace fs = std::filesystem;

fs::path BuiltEngineWrapper() { return ORLIN_TEST_SYNC_EXE; }
fs::path DistDirectory() { return ORLIN_TEST_DIST_DIR; }
fs::path RealEngineBinary() { return ORLIN_TEST_ENGINE_BINARY; }

std::string EngineUnavailableReason() {
  if (::access(BuiltEngineWrapper().c_str(), X_OK) != 0) return "the Sync.exe wrapper was not built";
  if (::access(RealEngineBinary().c_str(), X_OK) != 0) {
    return "no sync engine at " + RealEngineBinary().string() + " (install the syncthing package)";
  }
  return {};
}

namespace {

fs::path NewScratchRoot() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("orlin-engine-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) return candidate;
  }
  return {};
}

// The words of /proc/PID/cmdline, or nothing when the process is gone.
std::vector<std::string> CommandLineOf(const fs::path& procDir) {
  std::ifstream in(procDir / "cmdline", std::ios::binary);
  std::vector<std::string> words;
  std::string word;
  while (std::getline(in, word, '\0')) words.push_back(word);
  return words;
}

// The network namespace of a process (or of the calling thread for
// "thread-self"), as the inode its link names; empty when unreadable.
std::string NetworkNamespaceOf(const fs::path& procDir) {
  std::error_code error;
  const fs::path link = fs::read_symlink(procDir / "ns" / "net", error);
  return error ? std::string() : link.string();
}

std::string CommOf(const fs::path& procDir) {
  std::ifstream in(procDir / "comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace

ScratchInstall::ScratchInstall(const std::string& installName) {
  root_ = NewScratchRoot();
  if (root_.empty()) {
    error_ = "cannot create a scratch directory";
    return;
  }
  home_ = root_ / "home";
  layout_.installDir = root_ / installName;

  std::error_code error;
  fs::create_directories(home_, error);
  fs::create_directories(layout_.installDir / "engine", error);
  if (error) {
    error_ = "cannot lay out " + layout_.installDir.string() + ": " + error.message();
    return;
  }
  for (const char* name : {"lang.xml", "setting.xml", "userconfig.xml", "Orlin.ini"}) {
    fs::copy_file(DistDirectory() / name, layout_.installDir / name, error);
    if (error) {
      error_ = std::string("cannot copy ") + name + ": " + error.message();
      return;
    }
  }
  fs::copy_file(BuiltEngineWrapper(), layout_.EngineExecutable(), error);
  // A copy, as the install step places it.
  if (!error) fs::copy_file(RealEngineBinary(), layout_.installDir / "engine" / "Sync.exe", error);
  if (error) {
    error_ = "cannot place the engine: " + error.message();
    return;
  }

  if (const char* old = std::getenv("HOME")) oldHome_ = old;
  ::setenv("HOME", home_.c_str(), 1);
}

ScratchInstall::~ScratchInstall() {
  KillEngineProcesses();
  if (oldHome_) {
    ::setenv("HOME", oldHome_->c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
  std::error_code error;
  if (!root_.empty()) fs::remove_all(root_, error);
}

std::vector<platform::ProcessId> ScratchInstall::EngineProcesses() const {
  std::vector<platform::ProcessId> found;
  if (root_.empty()) return found;
  // This install's engine processes name its engine home on their command
  // line (the product passes -home=<dir>, the engine hands it on to its
  // child). While a process is between two execs its command line can read
  // as empty, so an engine-named process in this test's own network
  // namespace counts too: nobody else's engine lives there.
  const std::string home = layout_.EngineHome().string();
  const std::string ownNamespace = NetworkNamespaceOf("/proc/thread-self");
  const auto self = static_cast<platform::ProcessId>(::getpid());
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto pid = static_cast<platform::ProcessId>(std::stoul(name));
    if (pid == self) continue;
    bool mine = false;
    for (const std::string& word : CommandLineOf(entry.path())) {
      const auto equals = word.find('=');
      if (equals == std::string::npos) continue;
      const std::string flag = word.substr(0, equals);
      if ((flag == "-home" || flag == "--home") && word.substr(equals + 1) == home) {
        mine = true;
        break;
      }
    }
    if (!mine && !ownNamespace.empty() && NetworkNamespaceOf(entry.path()) == ownNamespace &&
        AsciiLower(CommOf(entry.path())) == "sync.exe") {
      mine = true;
    }
    if (mine) found.push_back(pid);
  }
  return found;
}

bool ScratchInstall::KillEngineProcesses(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // The monitor may start a new child between two scans, so kill until
    // a scan finds nothing.
    const auto pids = EngineProcesses();
    if (pids.empty()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    for (auto pid : pids) ::kill(static_cast<pid_t>(pid), SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool ScratchInstall::WaitForConfig(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    if (fs::exists(layout_.EngineConfig(), error)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::optional<std::string> ScratchInstall::ReadApiKey() const {
  std::ifstream in(layout_.EngineConfig());
  std::stringstream text;
  text << in.rdbuf();
  const std::string xml = text.str();
  const auto open = xml.find("<apikey>");
  if (open == std::string::npos) return std::nullopt;
  const auto start = open + 8;
  const auto close = xml.find("</apikey>", start);
  if (close == std::string::npos || close == start) return std::nullopt;
  return xml.substr(start, close - start);
}

bool ScratchInstall::WaitForRest(const std::string& apiKey, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (RestGet(kEngineRestPort, "/rest/system/ping", apiKey, std::chrono::milliseconds(1000)).status == 200) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::optional<std::vector<platform::ProcessEntry>> InstallProcessTable::Scan() {
  auto all = system_.Scan();
  if (!all) return all;
  const auto mine = install_.EngineProcesses();
  std::vector<platform::ProcessEntry> entries;
  for (const auto& entry : *all) {
    for (auto pid : mine) {
      if (entry.pid == pid) entries.push_back(entry);
    }
  }
  return entries;
}

std::optional<platform::ProcessId> InstallProcessTable::StartHidden(const std::wstring& commandLine) {
  ++starts_;
  return system_.StartHidden(commandLine);
}

bool InstallProcessTable::Terminate(platform::ProcessId pid, std::uint32_t exitCode) {
  return system_.Terminate(pid, exitCode);
}

}  // namespace orlin::testsupport
