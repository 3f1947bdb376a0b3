// The update manifest the Tarn server publishes (/apps/orlin/update.json),
// and what the updater decides from it: which package, from where, saved
// under which name.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/auto-updater/update_manifest.h"

namespace orlin::fuzz {
namespace {

constexpr std::string_view kServer = "nas.example:8443";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

void Run(std::string_view json) {
  const update::ManifestRead read = update::ParseManifest(json);
  FUZZ_CHECK(read.manifest.has_value() == read.error.empty(), "a manifest is read, or the log says why not");
  if (!read.manifest) return;
  const update::UpdateManifest& manifest = *read.manifest;
  FUZZ_CHECK(update::CompareVersions(manifest.version, manifest.version) == 0, "the version is one");

  std::vector<std::string> kinds{update::PackageKind(), "windows-x86"};
  for (const auto& [kind, package] : manifest.packages) {
    kinds.push_back(kind);
    FUZZ_CHECK(!package.url.empty(), "a package has an address");
    FUZZ_CHECK(package.size >= 1 && package.size <= update::kMaxPackageBytes, "a package's size is bounded");
    FUZZ_CHECK(package.sha256.size() == 64 && package.sha256.find_first_not_of("0123456789abcdef") == std::string::npos,
               "a package's SHA-256 is 64 lower-case digits");
    // The saved file stays in the download folder.
    const std::string name = update::PackageFileName(package, kind);
    FUZZ_CHECK(!name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos,
               "a package is saved under a plain file name");
  }
  for (const std::string& kind : kinds) {
    const update::UpdateDecision decision = update::Decide("1.0.0", manifest, kind, kServer);
    if (decision.check != update::UpdateCheck::kNewer) continue;
    // A package comes over HTTPS from the server the login saw, or not at all.
    const std::string url = Lower(decision.package.url);
    const std::string origin = "https://" + std::string(kServer);
    FUZZ_CHECK(url.rfind(origin, 0) == 0, "a package comes from the server over HTTPS");
    FUZZ_CHECK(url.size() == origin.size() || std::string_view("/?#").find(url[origin.size()]) != std::string::npos,
               "from that very host and port");
  }
  const std::optional<int> order = update::CompareVersions(manifest.version, "1.0.0");
  const std::optional<int> reverse = update::CompareVersions("1.0.0", manifest.version);
  FUZZ_CHECK(order && reverse && (*order > 0) == (*reverse < 0) && (*order == 0) == (*reverse == 0),
             "versions compare the same both ways");
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(orlin::fuzz::Bytes(data, size));
  return 0;
}
