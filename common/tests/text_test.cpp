#include "common/text.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

TEST(TextTest, CaseInsensitiveComparisonIsAsciiOnly) {
  EXPECT_TRUE(EqualsIgnoreCase(L"OKBTN", L"okbtn"));
  EXPECT_FALSE(EqualsIgnoreCase(L"OKBTN", L"okbt"));
  EXPECT_EQ(AsciiLower(std::string("SYNC.EXE")), "sync.exe");
}

TEST(TextTest, FieldCopyCutsToWidthMinusOneWithoutSplittingCharacters) {
  char field[5];
  CopyToField(field, sizeof field, "abcdefgh");
  EXPECT_STREQ(field, "abcd");
  CopyToField(field, sizeof field, "ab\xE5\x90\x8C");  // "ab同": the 3-byte character does not fit
  EXPECT_STREQ(field, "ab");
  CopyToField(field, sizeof field, "");
  EXPECT_STREQ(field, "");
}

// Folders of any name are synchronised, and this must hold whatever locale
// the process runs in (services and CI runners often have none).
TEST(TextTest, FileNamesOutsideAsciiAreMadeFoundAndNamedBack) {
  testsupport::TempDir dir;
  const std::wstring folderName = L"\u540C\u6B65 folder \u00E9";
  const std::wstring fileName = L"\u6587\u4EF6 \U0001F600.txt";
  const std::filesystem::path folder = dir.path() / PathFromWide(folderName);
  ASSERT_TRUE(std::filesystem::create_directories(folder));
  std::ofstream(folder / PathFromWide(fileName)) << "x";

  int seen = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    const std::wstring name = WideFromPath(entry.path().filename());
    if (name == folderName || name == fileName) ++seen;
  }
  EXPECT_EQ(seen, 2);
  const std::u8string utf8 = folder.filename().u8string();
  EXPECT_EQ(std::string(utf8.begin(), utf8.end()), "\xE5\x90\x8C\xE6\xAD\xA5 folder \xC3\xA9");
  EXPECT_EQ(WideFromPath(PathFromWide(L"")), L"");
}

}  // namespace
}  // namespace orlin
