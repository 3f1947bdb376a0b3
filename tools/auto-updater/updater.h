#pragma once
// The updater's work, step by step, behind two small interfaces so that
// tests can play the server and the computer:
//
//   Check     reads the server and the certificate fingerprint the login
//             kept, fetches /apps/orlin/update.json from that server (only
//             if it shows that certificate) and decides (update_manifest.h);
//   Download  fetches the package into a private folder, stopping as soon as
//             it grows past its announced size or Cancel is pressed, then
//             reads the file back and checks size and SHA-256; a package
//             that fails is deleted;
//   Install   ends Orlin as the uninstaller does (its exit request, then
//             the watchdog before Orlin and the engine), runs the installer
//             silently, and starts Orlin again, also when the installer
//             failed (the old version is then still in place).
//
// Each step returns a value with the message key the window shows (the
// message table of ui/dialogs/message_table.h has both languages). Nothing
// on the computer changes before Install; every failure before it leaves
// the install as it was.
//
// Threads: the steps block; the window runs them on its worker. Cancel may
// be called from any thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/install_layout.h"
#include "tools/auto-updater/update_manifest.h"

namespace orlin::update {

// One exchange with the Tarn server.
struct ServerAnswer {
  enum class Outcome {
    kAnswered,            // a complete answer, `status` tells which
    kUnreachable,         // no connection, time-out, TLS failure, broken transfer
    kCertificateChanged,  // the server showed another certificate: nothing was asked
    kStopped,             // the sink refused more (the download was cancelled or too large)
  };
  Outcome outcome = Outcome::kUnreachable;
  int status = 0;
  std::string body;  // the manifest's text (downloads hand their body to the sink)
  std::string error;  // the transport's description when no answer came, for the log
};

class UpdateServer {
 public:
  virtual ~UpdateServer() = default;
  // GET `url`; only a server whose certificate has `fingerprint` is asked.
  virtual ServerAnswer Fetch(const std::string& url, const std::string& fingerprint) = 0;
  // GET `url` as Fetch, the body of a 200 answer handed to `sink` piece by
  // piece; false from the sink stops the transfer (kStopped).
  virtual ServerAnswer Download(const std::string& url, const std::string& fingerprint,
                                const std::function<bool(std::string_view)>& sink) = 0;
};

// What installing does to the computer.
class UpdateSystem {
 public:
  virtual ~UpdateSystem() = default;
  // Ends the running Orlin, its watchdog and its engine; true once none of
  // them runs any more (also when none ran).
  virtual bool EndOrlin() = 0;
  // Runs the installer of `package` silently and waits for it; true when it
  // reports success.
  virtual bool RunInstaller(const std::filesystem::path& package) = 0;
  // Starts Orlin from the install directory.
  virtual bool StartOrlin() = 0;
};

struct CheckResult {
  UpdateCheck check = UpdateCheck::kBadManifest;
  bool ok = false;           // the check could be made (kUpToDate, kNewer, kNoPackage)
  std::wstring messageKey;   // what the window says
  std::string newestVersion; // when the manifest was read
  std::string detail;        // for the log
};

struct DownloadResult {
  bool ok = false;
  std::wstring messageKey;
  std::filesystem::path package;  // the verified file, when ok
  std::string detail;
};

struct InstallResult {
  bool ok = false;
  std::wstring messageKey;
  bool orlinStarted = false;
};

struct UpdaterOptions {
  InstallLayout layout;
  std::string currentVersion;
  std::string packageKind = PackageKind();
  // Where packages are downloaded to (made owner-only); a package that
  // passed stays there until the next update.
  std::filesystem::path downloadDir;
};

class Updater {
 public:
  Updater(UpdaterOptions options, UpdateServer& server, UpdateSystem& system);

  // The server the login stored ("host:port"), empty when not signed in.
  std::string Server() const;

  CheckResult Check();
  // Needs a successful Check with kNewer. `progress` gets the bytes so far
  // and the package's size, on the calling thread.
  DownloadResult Download(const std::function<void(std::uint64_t done, std::uint64_t total)>& progress);
  // Needs a successful Download.
  InstallResult Install(const std::filesystem::path& package);

  // Any thread: stops a running download (it then ends with
  // "Update_Cancelled_Msg"); later downloads are not affected.
  void Cancel() { cancel_ = true; }

 private:
  UpdaterOptions options_;
  UpdateServer& server_;
  UpdateSystem& system_;
  std::optional<UpdateDecision> decision_;
  std::atomic<bool> cancel_{false};
};

enum class PackageCheck { kOk, kWrongSize, kWrongDigest, kUnreadable };

// Reads `file` back and compares its size and SHA-256 with the manifest's.
PackageCheck VerifyPackage(const std::filesystem::path& file, const UpdatePackage& expected);

// The address of the manifest on `server` ("host:port").
std::string ManifestUrl(std::string_view server);

}  // namespace orlin::update
