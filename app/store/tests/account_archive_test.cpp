#include "app/store/account_archive.h"

#include <gtest/gtest.h>

#include "common/atomic_file.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::optional<std::wstring> DecodeWhole(const std::string& data) {
  std::size_t pos = 0;
  auto text = DecodeArchiveString(data, pos);
  if (text) {
    EXPECT_EQ(pos, data.size());
  }
  return text;
}

TEST(AccountArchive, ShortStringHasTagOneByteLengthAndUtf16) {
  EXPECT_EQ(EncodeArchiveString(L"ab"), Bytes({0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b', 0}));
  EXPECT_EQ(EncodeArchiveString(L""), Bytes({0xFF, 0xFE, 0xFF, 0x00}));
  EXPECT_EQ(EncodeArchiveString(L"\u4E2D"), Bytes({0xFF, 0xFE, 0xFF, 0x01, 0x2D, 0x4E}));
}

TEST(AccountArchive, LengthFormsSwitchAtTheirLimits) {
  struct Case {
    std::size_t length;
    std::size_t headerSize;
  };
  // 254 fits a byte; 255 needs the word form; 0xFFFE needs the 32-bit form.
  for (const Case c : {Case{254, 4}, Case{255, 6}, Case{300, 6}, Case{0xFFFD, 6}, Case{0xFFFE, 10}, Case{70000, 10}}) {
    const std::wstring text(c.length, L'x');
    const std::string data = EncodeArchiveString(text);
    ASSERT_EQ(data.size(), c.headerSize + 2 * c.length) << c.length;
    if (c.headerSize == 6) {
      EXPECT_EQ(static_cast<unsigned char>(data[3]), 0xFF);
      EXPECT_EQ(static_cast<unsigned char>(data[4]) | (static_cast<unsigned char>(data[5]) << 8), int(c.length));
    } else if (c.headerSize == 10) {
      EXPECT_EQ(data.substr(3, 3), Bytes({0xFF, 0xFF, 0xFF}));
      const auto len = static_cast<std::size_t>(static_cast<unsigned char>(data[6])) |
                       (static_cast<std::size_t>(static_cast<unsigned char>(data[7])) << 8) |
                       (static_cast<std::size_t>(static_cast<unsigned char>(data[8])) << 16);
      EXPECT_EQ(len, c.length);
    }
    EXPECT_EQ(DecodeWhole(data), text) << c.length;
  }
}

TEST(AccountArchive, AccountRoundTripsThroughTheFile) {
  testsupport::TempDir dir;
  const auto file = dir.path() / "config.xml.tarncloud";
  const AccountArchive accounts[] = {
      {L"alice", L"nas.example.org:8443"},
      {L"", L""},
      {L"\u674E\u660E", L"10.0.0.5"},
      {std::wstring(300, L'u'), std::wstring(70000, L's')},
      {L"emoji \U0001F600", L"host"},  // a surrogate pair in the file
  };
  for (const auto& account : accounts) {
    ASSERT_FALSE(WriteAccountArchiveFile(file, account));
    EXPECT_EQ(ReadAccountArchiveFile(file), account);
  }
}

TEST(AccountArchive, CredentialFileIsPrivateToItsOwner) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permissions only";
#else
  testsupport::TempDir dir;
  const auto file = dir.path() / "config.xml.tarncloud";
  ASSERT_FALSE(WriteAccountArchiveFile(file, {L"u", L"s"}));
  const auto perms = std::filesystem::status(file).permissions();
  EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
#endif
}

TEST(AccountArchive, MissingTruncatedOrCorruptFileReadsAsEmpty) {
  testsupport::TempDir dir;
  const auto file = dir.path() / "config.xml.tarncloud";
  EXPECT_EQ(ReadAccountArchiveFile(file), AccountArchive{});

  const std::string whole = EncodeAccountArchive({std::wstring(300, L'n'), L"server"});
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    ASSERT_EQ(DecodeAccountArchive(std::string_view(whole).substr(0, cut)), std::nullopt) << "cut at " << cut;
  }
  // The second string cut short: the user name alone is not taken either.
  ASSERT_FALSE(WriteFileAtomically(file, std::string_view(whole).substr(0, whole.size() - 1)));
  EXPECT_EQ(ReadAccountArchiveFile(file), AccountArchive{});
  ASSERT_FALSE(WriteFileAtomically(file, "\xFF\xFE\xFF"));
  EXPECT_EQ(ReadAccountArchiveFile(file), AccountArchive{});
}

TEST(AccountArchive, LengthsPastTheEndAreRejectedWithoutAllocating) {
  std::size_t pos = 0;
  // A 32-bit length of 4 GiB - 1 units with four bytes behind it.
  const std::string huge = Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0, 'b', 0});
  EXPECT_EQ(DecodeArchiveString(huge, pos), std::nullopt);
  EXPECT_EQ(pos, 0u);
  // Word length 300 with only two units.
  EXPECT_EQ(DecodeArchiveString(Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01, 'a', 0, 'b', 0}), pos), std::nullopt);
  // A second UTF-16 tag where the length belongs.
  EXPECT_EQ(DecodeArchiveString(Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x00}), pos), std::nullopt);
  // Odd byte count for UTF-16 units.
  EXPECT_EQ(DecodeArchiveString(Bytes({0xFF, 0xFE, 0xFF, 0x01, 'a'}), pos), std::nullopt);
}

TEST(AccountArchive, AcceptsEightBitStrings) {
  // Without the UTF-16 tag the length counts 8-bit characters.
  const std::string data = Bytes({0x04, 'r', 'o', 'o', 't', 0x03, 'n', 'a', 0xE9});
  const auto account = DecodeAccountArchive(data);
  ASSERT_TRUE(account);
  EXPECT_EQ(account->userName, L"root");
  EXPECT_EQ(account->server, L"na\u00E9");
}

}  // namespace
}  // namespace orlin
