#include "engine/rest_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace orlin {
namespace {

TEST(RestPaths, OnlyUnreservedCharactersStayEveryOtherByteBecomesUpperCaseHex) {
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    const std::string encoded = rest::PercentEncode(std::string(1, c));
    if (unreserved) {
      EXPECT_EQ(encoded, std::string(1, c)) << byte;
    } else {
      ASSERT_EQ(encoded.size(), 3u) << byte;
      EXPECT_EQ(encoded[0], '%');
      EXPECT_EQ(std::stoi(encoded.substr(1), nullptr, 16), byte);
      for (char digit : encoded.substr(1)) EXPECT_FALSE(digit >= 'a' && digit <= 'f') << encoded;
    }
  }
  EXPECT_EQ(rest::PercentEncode(""), "");
  EXPECT_EQ(rest::PercentEncode("o'neil & co #1 %"), "o%27neil%20%26%20co%20%231%20%25");
}

TEST(RestPaths, FolderUrlsEncodeTheIdentifierAndKeepTheBase) {
  EXPECT_EQ(rest::FolderUrl(rest::kDbStatus, "a+b/c?d=e"),
            "http://localhost:18384/rest/db/status?folder=a%2Bb%2Fc%3Fd%3De");
  EXPECT_EQ(rest::FolderUrl(rest::kDbRevert, "ann lee", "http://127.0.0.1:4000/rest/"),
            "http://127.0.0.1:4000/rest/db/revert?folder=ann%20lee");
  EXPECT_EQ(rest::Url(rest::kSystemStatus), "http://localhost:18384/rest/system/status");
  EXPECT_EQ(rest::Url(rest::kSystemConfig, rest::kDiagnosticBase), "http://localhost:8384/rest/system/config");
  EXPECT_EQ(rest::KeyHeader("k3y"), "X-API-Key: k3y");
}

}  // namespace
}  // namespace orlin
