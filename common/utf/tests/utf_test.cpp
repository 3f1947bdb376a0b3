#include "common/utf/utf.h"

#include <gtest/gtest.h>

namespace orlin {
namespace {

TEST(UtfTest, RoundTripsChineseAndAstralCharactersThroughEveryForm) {
  const std::string utf8 = "同步 \xF0\x9F\x98\x80 ok";
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(wide.substr(0, 2), std::wstring(L"\u540C\u6B65"));
  const std::u16string utf16 = WideToUtf16(wide);
  EXPECT_EQ(utf16, u"同步 \U0001F600 ok");
  EXPECT_EQ(utf16.size(), 8u);  // the emoji is a surrogate pair
  EXPECT_EQ(Utf16ToWide(utf16), wide);
}

// Each malformed unit is one U+FFFD, and decoding picks up right after it.
TEST(UtfTest, MalformedUtf8BecomesOneReplacementPerOffendingByte) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), std::wstring(L"a\uFFFD" L"b"));
  EXPECT_EQ(Utf8ToWide("\xE5\x90"), std::wstring(L"\uFFFD\uFFFD"));          // truncated
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), std::wstring(L"\uFFFD\uFFFD"));          // overlong '/'
  EXPECT_EQ(Utf8ToWide("\xE0\x80\xAF"), std::wstring(L"\uFFFD\uFFFD\uFFFD")); // overlong, 3 bytes
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), std::wstring(L"\uFFFD\uFFFD\uFFFD")); // encoded surrogate
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), std::wstring(4, L'\uFFFD'));     // past U+10FFFF
  EXPECT_EQ(Utf8ToWide("\xE5\x90" "x"), std::wstring(L"\uFFFD\uFFFDx"));     // cut short by ASCII
}

TEST(UtfTest, ValidityAgreesWithDecoding) {
  EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD plain"));  // a literal U+FFFD is fine
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));    // U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));
  EXPECT_FALSE(IsValidUtf8("abc\xE5"));
}

TEST(UtfTest, UnpairedSurrogatesNeverReachUtf8) {
  std::u16string lone = u"a";
  lone.push_back(static_cast<char16_t>(0xD800));
  lone.push_back(u'b');
  lone.push_back(static_cast<char16_t>(0xDC00));
  const std::wstring wide = Utf16ToWide(lone);
  EXPECT_EQ(wide, std::wstring(L"a\uFFFDb\uFFFD"));
  EXPECT_TRUE(IsValidUtf8(WideToUtf8(wide)));

  std::string out;
  AppendUtf8(out, 0xDFFF);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace orlin
