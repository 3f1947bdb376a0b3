#pragma once
// Running the real engine in a test: a scratch install directory laid out as
// `cmake --install` lays it out (the Sync.exe stand-in, the engine copy and
// the default state files), a scratch HOME, helpers to wait for the engine,
// and clean-up of every engine process of that install by its process id.
//
// Use it only after JoinPrivateNetworkNamespace() succeeded (see
// namespace_guard.h): the engine listens on its fixed ports.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/install_layout.h"
#include "platform/process.h"

namespace orlin::testsupport {

// Paths fixed by the build (compile definitions of the test support library).
std::filesystem::path BuiltEngineWrapper();  // the built Sync.exe stand-in
std::filesystem::path DistDirectory();       // dist/ of the source tree
std::filesystem::path RealEngineBinary();    // the engine copied in as engine/Sync.exe

// Why the real engine cannot run here, or "" when it can.
std::string EngineUnavailableReason();

inline constexpr std::uint16_t kEngineRestPort = 18384;

class ScratchInstall {
 public:
  // Lays out <new temp dir>/<installName> (which may hold blanks and
  // sub-directories) and points HOME at <temp dir>/home for this process.
  explicit ScratchInstall(const std::string& installName = "install");
  // Ends every engine process of this install, restores HOME and removes
  // the scratch directory.
  ~ScratchInstall();
  ScratchInstall(const ScratchInstall&) = delete;
  ScratchInstall& operator=(const ScratchInstall&) = delete;

  // Empty when the layout is complete; otherwise what went wrong.
  const std::string& error() const { return error_; }

  const InstallLayout& layout() const { return layout_; }
  const std::filesystem::path& installDir() const { return layout_.installDir; }
  const std::filesystem::path& home() const { return home_; }
  // The scratch directory that holds the install and the home.
  const std::filesystem::path& root() const { return root_; }

  // Ids of the live processes started with this install's engine home
  // (wrapper, engine monitor and engine child).
  std::vector<platform::ProcessId> EngineProcesses() const;

  // Kills every process of EngineProcesses() by id and waits (bounded) until
  // none is left. Returns whether none is left.
  bool KillEngineProcesses(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Polls until config.xml exists; false on time-out.
  bool WaitForConfig(std::chrono::milliseconds timeout) const;
  // gui/apikey of config.xml read by plain text search, or nullopt.
  std::optional<std::string> ReadApiKey() const;
  // Polls GET /rest/system/ping with the key until it answers 200.
  bool WaitForRest(const std::string& apiKey, std::chrono::milliseconds timeout) const;

 private:
  std::filesystem::path root_;
  std::filesystem::path home_;
  InstallLayout layout_;
  std::string error_;
  std::optional<std::string> oldHome_;
};

// A process table that sees only the processes of one scratch install, so a
// test never finds or ends an engine that belongs to someone else on the
// machine. Starting and terminating go to the system table.
class InstallProcessTable final : public platform::ProcessTable {
 public:
  explicit InstallProcessTable(const ScratchInstall& install) : install_(install) {}
  std::optional<std::vector<platform::ProcessEntry>> Scan() override;
  std::optional<platform::ProcessId> StartHidden(const std::wstring& commandLine) override;
  bool Terminate(platform::ProcessId pid, std::uint32_t exitCode) override;

  int starts() const { return starts_; }

 private:
  const ScratchInstall& install_;
  platform::SystemProcessTable system_;
  int starts_ = 0;
};

}  // namespace orlin::testsupport
