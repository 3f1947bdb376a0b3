#include "common/text.h"

#include <gtest/gtest.h>

namespace orlin {
namespace {

TEST(TextTest, RoundTripsChineseAndAstralCharacters) {
  const std::string utf8 = "同步 \xF0\x9F\x98\x80 ok";
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(wide.substr(0, 2), std::wstring(L"\u540C\u6B65"));
}

TEST(TextTest, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), std::wstring(L"a\uFFFD" L"b"));
  EXPECT_EQ(Utf8ToWide("\xE5\x90"), std::wstring(L"\uFFFD\uFFFD"));  // truncated sequence
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), std::wstring(L"\uFFFD\uFFFD"));  // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));                          // surrogate
  EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD plain"));
}

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

}  // namespace
}  // namespace orlin
