#pragma once
// The updater's collaborators as the product has them: the Tarn server over
// the blocking HTTPS client, pinned to the certificate the login kept; and
// the computer through the process table, the window contract and the
// package's installer.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tools/auto-updater/updater.h"

namespace orlin::update {

class HttpUpdateServer final : public UpdateServer {
 public:
  ServerAnswer Fetch(const std::string& url, const std::string& fingerprint) override;
  ServerAnswer Download(const std::string& url, const std::string& fingerprint,
                        const std::function<bool(std::string_view)>& sink) override;
};

struct SystemUpdateOptions {
  std::filesystem::path installDir;
  std::filesystem::path programDir;
  // The programs' extension: ".exe" on Windows.
  std::wstring extension;
  // How long Orlin has to end after its exit request before it, its
  // watchdog and its engine are ended by force.
  std::chrono::milliseconds exitGrace{std::chrono::seconds(60)};
};

class SystemUpdateActions final : public UpdateSystem {
 public:
  SystemUpdateActions(SystemUpdateOptions options, platform::ProcessTable& processes);
  // Orlin's exit request (2024 to "UIOrlinFrameWnd"/"Orlin", which ends its
  // engine and watchdog too), then what is left ended by force in the
  // uninstaller's order: every Monitoring first (it would start a killed
  // Orlin again), then Orlin of this install, then the engine.
  bool EndOrlin() override;
  bool RunInstaller(const std::filesystem::path& package) override;
  bool StartOrlin() override;

  // The installer's command line: `installer` of section [update] of
  // Orlin.ini in the install directory when it is set (its words as Orlin
  // splits a command line, "{package}" standing for the file), else the
  // system's (platform/package_install.h).
  std::vector<std::wstring> InstallerCommand(const std::filesystem::path& package) const;

 private:
  bool OrlinRuns();
  bool EndByForce();

  SystemUpdateOptions options_;
  platform::ProcessTable& processes_;
};

}  // namespace orlin::update
