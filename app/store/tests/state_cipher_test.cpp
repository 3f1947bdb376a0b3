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

TEST(StateCipher, TextsBeyondLatin1RoundTripWhole) {
  // Chinese, Cyrillic, an emoji (a surrogate pair in UTF-16) and Latin-1
  // mixed with them.
  const std::wstring texts[] = {L"\u674E\u96F7", L"\u043F\u0430\u0440\u043E\u043B\u044C",
                                L"pw\U0001F600!", L"caf\u00E9 \u4E2D"};
  for (const auto key : kKeys) {
    for (const std::wstring& text : texts) {
      const std::string letters = StateCipher::Scramble(text, key);
      EXPECT_TRUE(std::all_of(letters.begin(), letters.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
          << letters;
      EXPECT_EQ(StateCipher::Unscramble(letters, key), text);
    }
  }
  // Another key does not give the text back.
  EXPECT_NE(StateCipher::Unscramble(StateCipher::Scramble(texts[0], StateCipher::kUserKey), StateCipher::kServerKey),
            texts[0]);
}

TEST(StateCipher, MarkersWrittenBeforeReadTheSameAndLatin1IsWrittenAsBefore) {
  // Lines of a marker written before texts beyond Latin-1 were kept whole.
  EXPECT_EQ(StateCipher::Unscramble("CAFZCHCYGUEUCLABBGAHDHBICVHYGSBJ", StateCipher::kServerKey),
            L"nas.example:5001");
  EXPECT_EQ(StateCipher::Unscramble("DGDSCHJCFHIK", StateCipher::kUserKey), L"J\u00FCrgen");
  EXPECT_EQ(StateCipher::Unscramble("GYIMHUBKAFBMFAINBFFOCC", StateCipher::kPasswordKey),
            L"p\u00E4ss w\u00F6rd&\u00FF");
  // Texts within Latin-1 are still written exactly so.
  EXPECT_EQ(StateCipher::Scramble(L"J\u00FCrgen", StateCipher::kUserKey), "DGDSCHJCFHIK");
}

TEST(StateCipher, DamagedWideFormsAreRejected) {
  const std::string letters = StateCipher::Scramble(L"\u674E\u96F7", StateCipher::kUserKey);
  ASSERT_EQ(letters.substr(0, 2), StateCipher::kWideTag);
  EXPECT_EQ(StateCipher::Unscramble(letters.substr(0, letters.size() - 2), StateCipher::kUserKey), std::nullopt);
  EXPECT_EQ(StateCipher::Unscramble(std::string(StateCipher::kWideTag), StateCipher::kUserKey), std::nullopt);
  EXPECT_EQ(StateCipher::Unscramble(std::string(StateCipher::kWideTag) + "ZZ", StateCipher::kUserKey), std::nullopt);
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
