#include "app/store/state_cipher.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orlin {
namespace {

constexpr std::uint16_t kKeys[] = {StateCipher::kServerKey, StateCipher::kUserKey, StateCipher::kPasswordKey};

TEST(StateCipher, MarkerLinesUseThreeDistinctKeys) {
  EXPECT_NE(StateCipher::kServerKey, StateCipher::kUserKey);
  EXPECT_NE(StateCipher::kServerKey, StateCipher::kPasswordKey);
  EXPECT_NE(StateCipher::kUserKey, StateCipher::kPasswordKey);
  // Distinct keys must also scramble the same text differently.
  EXPECT_NE(StateCipher::Scramble(L"secret", StateCipher::kServerKey),
            StateCipher::Scramble(L"secret", StateCipher::kUserKey));
}

TEST(StateCipher, ScramblesWithKeyFeedback) {
  // Worked by hand: 'A' ^ 0x12 = 0x53 = 83 -> "DF"; the key becomes
  // (0x53 + 0x1234) * 52845 + 22719 mod 2^16 = 0xDE3A; 'A' ^ 0xDE = 159 -> "GD".
  EXPECT_EQ(StateCipher::Scramble(L"AA", 0x1234), "DFGD");
}

TEST(StateCipher, ThreeLetterTextGivesSixCapitalsAndComesBack) {
  for (const auto key : kKeys) {
    const std::string letters = StateCipher::Scramble(L"abc", key);
    ASSERT_EQ(letters.size(), 6u);
    EXPECT_TRUE(std::all_of(letters.begin(), letters.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) << letters;
    EXPECT_EQ(StateCipher::Unscramble(letters, key), L"abc");
  }
}

TEST(StateCipher, EveryLatin1CharacterRoundTrips) {
  std::wstring all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<wchar_t>(c));
  for (const auto key : kKeys) {
    EXPECT_EQ(StateCipher::Unscramble(StateCipher::Scramble(all, key), key), all);
  }
  EXPECT_EQ(StateCipher::Scramble(L"", StateCipher::kUserKey), "");
  EXPECT_EQ(StateCipher::Unscramble("", StateCipher::kUserKey), L"");
}

TEST(StateCipher, KeepsOnlyTheLowByteOfWideCharacters) {
  // U+0141 and U+4E2D lose their high byte: they come back as U+0041, U+002D.
  const auto back = StateCipher::Unscramble(StateCipher::Scramble(L"\u0141\u4E2D", StateCipher::kPasswordKey),
                                            StateCipher::kPasswordKey);
  EXPECT_EQ(back, std::wstring(L"A-"));
}

TEST(StateCipher, WrongKeyDoesNotGiveTheText) {
  const std::string letters = StateCipher::Scramble(L"password", StateCipher::kPasswordKey);
  EXPECT_NE(StateCipher::Unscramble(letters, StateCipher::kUserKey), L"password");
}

TEST(StateCipher, RejectsLettersNoWriterProduces) {
  const auto key = StateCipher::kServerKey;
  EXPECT_EQ(StateCipher::Unscramble("ABC", key), std::nullopt);     // odd count
  EXPECT_EQ(StateCipher::Unscramble("abcd", key), std::nullopt);    // small letters
  EXPECT_EQ(StateCipher::Unscramble("AB1D", key), std::nullopt);    // digit
  EXPECT_EQ(StateCipher::Unscramble("AB\r\n", key), std::nullopt);  // line end left in
  EXPECT_EQ(StateCipher::Unscramble("ZZ", key), std::nullopt);      // 675 is no byte
  EXPECT_EQ(StateCipher::Unscramble("JW", key), std::nullopt);      // 256
  EXPECT_TRUE(StateCipher::Unscramble("JV", key).has_value());      // 255
}

}  // namespace
}  // namespace orlin
