#include "tools/auto-updater/update_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace orlin::update {
namespace {

const std::string kDigest(64, 'a');

std::string Manifest(const std::string& version, const std::string& packages) {
  return R"({"version": ")" + version + R"(", "packages": {)" + packages + "}}";
}

std::string Package(const std::string& kind, const std::string& url, const std::string& sha = kDigest,
                    const std::string& size = "1234") {
  return "\"" + kind + R"(": {"url": ")" + url + R"(", "sha256": ")" + sha + R"(", "size": )" + size + "}";
}

TEST(UpdateManifest, ReadsVersionAndEveryPackage) {
  const ManifestRead read = ParseManifest(Manifest(
      "1.2.0", Package("deb-amd64", "/apps/orlin/updates/orlin_1.2.0_amd64.deb", std::string(64, 'C'), "9876543") +
                   "," + Package("windows-x86", "https://nas:8443/apps/orlin/updates/OrlinSetup.exe")));
  ASSERT_TRUE(read.manifest) << read.error;
  EXPECT_EQ(read.manifest->version, "1.2.0");
  ASSERT_EQ(read.manifest->packages.size(), 2u);
  const UpdatePackage& deb = read.manifest->packages.at("deb-amd64");
  EXPECT_EQ(deb.url, "/apps/orlin/updates/orlin_1.2.0_amd64.deb");
  EXPECT_EQ(deb.sha256, std::string(64, 'c')) << "upper-case digits are taken and kept in lower case";
  EXPECT_EQ(deb.size, 9876543u);
  EXPECT_TRUE(ParseManifest(R"({"version": "2"})").manifest) << "a version without packages is a manifest";
}

// A server that publishes one broken entry is not trusted with the others.
TEST(UpdateManifest, RefusesAnythingMalformed) {
  const std::string good = Package("deb-amd64", "/p.deb");
  for (const std::string& text : {
           std::string("not json"),
           std::string("[1, 2]"),
           std::string(R"({"packages": {}})"),
           Manifest("1.2.x", good),
           Manifest("", good),
           Manifest("1..2", good),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", std::string(63, 'a'))),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", std::string(64, 'g'))),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", kDigest, "0")),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", kDigest, "-5")),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", kDigest, "\"1234\"")),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", kDigest, "2000000000")),
           // Sizes and nesting where the JSON reader throws instead of failing
           // (fuzz/corpus/update_manifest/huge-size.json): refused, not the end
           // of the updater.
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", kDigest, "18446744073709551615")),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", kDigest, "9223372036854775808")),
           Manifest("1.2.0", Package("deb-amd64", "/p.deb", kDigest, "1.5")),
           "{\"version\": " + std::string(1005, '[') + std::string(1005, ']') + "}",
           Manifest("1.2.0", Package("deb-amd64", "")),
           Manifest("1.2.0", good + R"(, "windows-x86": {"url": "/s.exe", "size": 5})"),
           std::string(R"({"version": "1.2.0", "packages": []})"),
       }) {
    const ManifestRead read = ParseManifest(text);
    EXPECT_FALSE(read.manifest) << text;
    EXPECT_FALSE(read.error.empty()) << text;
  }
}

TEST(UpdateManifest, VersionsCompareNumberByNumber) {
  EXPECT_EQ(CompareVersions("1.10.0", "1.9.9"), 1);
  EXPECT_EQ(CompareVersions("1.2", "1.2.0"), 0);
  EXPECT_EQ(CompareVersions("1.2.0.1", "1.2"), 1);
  EXPECT_EQ(CompareVersions("0.9", "1"), -1);
  EXPECT_EQ(CompareVersions("2.0.0", "10.0.0"), -1) << "numbers, not text";
  EXPECT_EQ(CompareVersions("1.2.0-beta", "1.2.0"), std::nullopt);
  EXPECT_EQ(CompareVersions("", "1"), std::nullopt);
}

// The decision table: equal and older versions are up to date; a newer one
// needs a package for this system, fetched over HTTPS from the server the
// manifest came from and nowhere else.
TEST(UpdateManifest, DecidesByVersionKindAndServer) {
  UpdateManifest manifest;
  manifest.version = "1.1.0";
  manifest.packages["deb-amd64"] = {"/apps/orlin/updates/orlin_1.1.0_amd64.deb", kDigest, 10};
  manifest.packages["windows-x86"] = {"https://NAS.example:8443/apps/orlin/updates/setup.exe", kDigest, 20};
  manifest.packages["windows-x64"] = {"https://elsewhere.example/setup.exe", kDigest, 30};
  manifest.packages["deb-arm64"] = {"http://nas.example:8443/orlin.deb", kDigest, 40};
  const std::string server = "nas.example:8443";

  EXPECT_EQ(Decide("1.1.0", manifest, "deb-amd64", server).check, UpdateCheck::kUpToDate);
  EXPECT_EQ(Decide("1.1", manifest, "deb-amd64", server).check, UpdateCheck::kUpToDate);
  EXPECT_EQ(Decide("1.2.0", manifest, "deb-amd64", server).check, UpdateCheck::kUpToDate);

  const UpdateDecision deb = Decide("1.0.0", manifest, "deb-amd64", server);
  EXPECT_EQ(deb.check, UpdateCheck::kNewer);
  EXPECT_EQ(deb.newestVersion, "1.1.0");
  EXPECT_EQ(deb.package.url, "https://nas.example:8443/apps/orlin/updates/orlin_1.1.0_amd64.deb");
  EXPECT_EQ(deb.package.size, 10u);
  EXPECT_EQ(Decide("1.0.0", manifest, "windows-x86", server).check, UpdateCheck::kNewer)
      << "host names compare without case";

  EXPECT_EQ(Decide("1.0.0", manifest, "deb-i386", server).check, UpdateCheck::kNoPackage);
  EXPECT_EQ(Decide("1.0.0", manifest, "windows-x64", server).check, UpdateCheck::kBadManifest);
  EXPECT_EQ(Decide("1.0.0", manifest, "deb-arm64", server).check, UpdateCheck::kBadManifest);
  EXPECT_EQ(Decide("1.0.0", manifest, "windows-x86", "nas.example:9443").check, UpdateCheck::kBadManifest)
      << "another port is another server";
  manifest.packages["deb-amd64"].url = "https://user@nas.example:8443/orlin.deb";
  EXPECT_EQ(Decide("1.0.0", manifest, "deb-amd64", server).check, UpdateCheck::kBadManifest);
  EXPECT_EQ(Decide("one", manifest, "deb-amd64", server).check, UpdateCheck::kBadManifest);
}

TEST(UpdateManifest, PackagesAreSavedUnderAPlainName) {
  EXPECT_EQ(PackageFileName({"https://nas/apps/orlin/updates/orlin_1.1.0_amd64.deb?x=1", kDigest, 1}, "deb-amd64"),
            "orlin_1.1.0_amd64.deb");
  EXPECT_EQ(PackageFileName({"https://nas/apps/orlin/updates/..", kDigest, 1}, "deb-amd64"), "update.deb");
  EXPECT_EQ(PackageFileName({"https://nas/get%20it", kDigest, 1}, "windows-x86"), "update.exe");
  EXPECT_EQ(PackageFileName({"https://nas/", kDigest, 1}, "windows-x86"), "update.exe");
}

}  // namespace
}  // namespace orlin::update
