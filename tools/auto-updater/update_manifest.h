#pragma once
// What the Tarn server says about updates, and what the updater makes of it.
//
// The server publishes one manifest at /apps/orlin/update.json:
//
//   {"version": "1.2.0",
//    "packages": {
//      "deb-amd64":   {"url": "/apps/orlin/updates/orlin_1.2.0_amd64.deb",
//                      "sha256": "<64 hex digits>", "size": 9876543},
//      "windows-x86": {"url": "https://nas.example/apps/orlin/updates/OrlinSetup-1.2.0-i686.exe", ...}}}
//
// `version` is the newest version; each package kind (PackageKind()) has its
// download address, the SHA-256 of the file and its size in bytes. An
// address starting with "/" is on the server the manifest came from. A
// package is only ever fetched from that server over HTTPS (its certificate
// is the one remembered at the login), so an address elsewhere makes the
// manifest unusable.
//
// Everything here is pure: no file, no network.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orlin::update {

// The largest package the updater accepts: a manifest naming a larger one is
// broken (or hostile), and the download could fill the disk.
inline constexpr std::uint64_t kMaxPackageBytes = 1ull << 30;

struct UpdatePackage {
  std::string url;
  std::string sha256;  // 64 lower-case hexadecimal digits
  std::uint64_t size = 0;

  bool operator==(const UpdatePackage&) const = default;
};

struct UpdateManifest {
  std::string version;
  std::map<std::string, UpdatePackage> packages;  // by package kind
};

struct ManifestRead {
  std::optional<UpdateManifest> manifest;
  std::string error;  // why not, for the log
};

// Parses the manifest. The version must be dotted decimal numbers; each
// package needs a url, a well-formed SHA-256 (upper case is taken and kept
// in lower case) and a size from 1 to kMaxPackageBytes. A package that
// lacks any of them makes the whole manifest unusable: a server that
// publishes broken entries is not trusted with the others.
ManifestRead ParseManifest(std::string_view json);

// Compares dotted decimal versions number by number ("1.10" > "1.9",
// "1.2" == "1.2.0"): negative, 0 or positive; nullopt when either is not
// such a version.
std::optional<int> CompareVersions(std::string_view a, std::string_view b);

// The package kind of the system the updater runs on: "deb-<architecture>"
// on Debian's architectures, "windows-x86" or "windows-x64".
std::string PackageKind();

enum class UpdateCheck {
  kUpToDate,     // the newest version is this one (or older)
  kNewer,        // a newer version with a package for this system
  kNoPackage,    // a newer version, but none for this system
  kBadManifest,  // the manifest cannot be used (version, or a package address off the server)
};

struct UpdateDecision {
  UpdateCheck check = UpdateCheck::kBadManifest;
  std::string newestVersion;
  UpdatePackage package;  // kNewer: with the address made absolute
};

// What to do, given this program's version, the manifest, this system's
// package kind and the server (host and port, as the login stored it,
// without scheme) the manifest came from.
UpdateDecision Decide(std::string_view currentVersion, const UpdateManifest& manifest, std::string_view packageKind,
                      std::string_view server);

// The file name a package is saved under: the last segment of its address
// when that is a plain file name, else "update" followed by the extension
// the package kind implies.
std::string PackageFileName(const UpdatePackage& package, std::string_view packageKind);

}  // namespace orlin::update
