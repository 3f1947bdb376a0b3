#include "tools/auto-updater/update_manifest.h"

#include <json/json.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace orlin::update {
namespace {

std::optional<std::vector<std::uint64_t>> VersionNumbers(std::string_view version) {
  std::vector<std::uint64_t> numbers;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = version.find('.', start);
    const std::string_view part = version.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (part.empty() || part.size() > 9) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    numbers.push_back(value);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  // Trailing zeros say nothing: 1.2 is 1.2.0.
  while (numbers.size() > 1 && numbers.back() == 0) numbers.pop_back();
  return numbers;
}

bool IsSha256(std::string& text) {
  if (text.size() != 64) return false;
  for (char& c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

// The host and port of an https address, lower case; nullopt for anything
// else (another scheme, user information, no host).
std::optional<std::string> HttpsAuthority(std::string_view url) {
  constexpr std::string_view kScheme = "https://";
  if (url.size() <= kScheme.size() || Lower(url.substr(0, kScheme.size())) != kScheme) return std::nullopt;
  std::string_view rest = url.substr(kScheme.size());
  const std::size_t end = rest.find_first_of("/?#");
  const std::string_view authority = rest.substr(0, end);
  if (authority.empty() || authority.find('@') != std::string_view::npos) return std::nullopt;
  return Lower(authority);
}

}  // namespace

ManifestRead ParseManifest(std::string_view json) {
  ManifestRead read;
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  bool parsed = false;
  try {
    parsed = reader->parse(json.data(), json.data() + json.size(), &root, &errors);
  } catch (const std::exception& e) {
    // The reader throws instead of failing when arrays or objects nest
    // deeper than its stack limit.
    errors = e.what();
  }
  if (!parsed) {
    read.error = "the manifest is not JSON: " + errors;
    return read;
  }
  if (!root.isObject() || !root["version"].isString() || !VersionNumbers(root["version"].asString())) {
    read.error = "the manifest has no version of dotted numbers";
    return read;
  }
  UpdateManifest manifest;
  manifest.version = root["version"].asString();
  const Json::Value& packages = root["packages"];
  if (!packages.isNull() && !packages.isObject()) {
    read.error = "the manifest's packages are not an object";
    return read;
  }
  for (const std::string& kind : packages.getMemberNames()) {
    const Json::Value& entry = packages[kind];
    UpdatePackage package;
    if (!entry.isObject() || !entry["url"].isString() || !entry["sha256"].isString()) {
      read.error = "the package " + kind + " lacks its address or SHA-256";
      return read;
    }
    package.url = entry["url"].asString();
    package.sha256 = entry["sha256"].asString();
    if (package.url.empty() || !IsSha256(package.sha256)) {
      read.error = "the package " + kind + " has an empty address or a malformed SHA-256";
      return read;
    }
    const Json::Value& size = entry["size"];
    // isUInt64 first: the signed accessor throws for a count above 2^63.
    if (!size.isUInt64() || size.asUInt64() < 1 || size.asUInt64() > kMaxPackageBytes) {
      read.error = "the package " + kind + " has no size from 1 byte to 1 GiB";
      return read;
    }
    package.size = size.asUInt64();
    manifest.packages.emplace(kind, std::move(package));
  }
  read.manifest = std::move(manifest);
  return read;
}

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
  const auto x = VersionNumbers(a);
  const auto y = VersionNumbers(b);
  if (!x || !y) return std::nullopt;
  if (*x == *y) return 0;
  return std::lexicographical_compare(x->begin(), x->end(), y->begin(), y->end()) ? -1 : 1;
}

UpdateDecision Decide(std::string_view currentVersion, const UpdateManifest& manifest, std::string_view packageKind,
                      std::string_view server) {
  UpdateDecision decision;
  decision.newestVersion = manifest.version;
  const auto order = CompareVersions(manifest.version, currentVersion);
  if (!order) return decision;
  if (*order <= 0) {
    decision.check = UpdateCheck::kUpToDate;
    return decision;
  }
  const auto found = manifest.packages.find(std::string(packageKind));
  if (found == manifest.packages.end()) {
    decision.check = UpdateCheck::kNoPackage;
    return decision;
  }
  UpdatePackage package = found->second;
  if (package.url.front() == '/') package.url = "https://" + std::string(server) + package.url;
  // The package comes from the server whose certificate the login saw, or
  // not at all.
  if (HttpsAuthority(package.url) != Lower(server)) return decision;
  decision.check = UpdateCheck::kNewer;
  decision.package = std::move(package);
  return decision;
}

std::string PackageKind() {
  // The build decides: a program is of one system and architecture only.
#if defined(_WIN32) && defined(_WIN64)
  return "windows-x64";
#elif defined(_WIN32)
  return "windows-x86";
#elif defined(__x86_64__)
  return "deb-amd64";
#elif defined(__aarch64__)
  return "deb-arm64";
#elif defined(__i386__)
  return "deb-i386";
#else
  return "deb-unknown";
#endif
}

std::string PackageFileName(const UpdatePackage& package, std::string_view packageKind) {
  std::string_view path = package.url;
  path = path.substr(0, path.find_first_of("?#"));
  const std::size_t slash = path.rfind('/');
  std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
  const bool plain = !name.empty() && name != "." && name != ".." && name.size() <= 128 &&
                     std::all_of(name.begin(), name.end(), [](char c) {
                       return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                              c == '.' || c == '_' || c == '-' || c == '+';
                     });
  if (plain) return name;
  return packageKind.rfind("windows", 0) == 0 ? "update.exe" : "update.deb";
}

}  // namespace orlin::update
