#pragma once
// The scrambling of the three lines of the credentials marker
// (syncconfig/config.xml.configured). It keeps the server, user name and
// password from being read at a glance; it is not encryption. Every line has
// its own fixed key, and the login (writer) and the versioning setting
// (reader) must use the same three.
//
// Two forms, both made of capital letters only:
//   - a text whose characters are all U+0000..U+00FF is scrambled one
//     character per byte, as markers have always been written (so every
//     marker written before still reads the same, and such texts are
//     written exactly as before);
//   - any other text (Chinese, Cyrillic, emoji, ...) would lose the high bits
//     of its characters that way. It is written as kWideTag followed by its
//     UTF-8 bytes scrambled with the same key. The tag is a letter pair the
//     byte form never produces (its value is above 255), so a reader tells
//     the forms apart by the first two letters.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orlin {

class StateCipher {
 public:
  static constexpr std::uint16_t kServerKey = 0x5A3C;
  static constexpr std::uint16_t kUserKey = 0x1E97;
  static constexpr std::uint16_t kPasswordKey = 0xC46B;

  // Opens a line in the UTF-8 form.
  static constexpr std::string_view kWideTag = "ZZ";

  // Two capital letters per scrambled byte (plus the tag for the UTF-8 form).
  static std::string Scramble(std::wstring_view text, std::uint16_t key);

  // The text back from its letters. Empty letters give an empty text.
  // std::nullopt when `letters` holds anything but 'A'..'Z', an odd number of
  // letters, a pair that no byte scrambles to, or a UTF-8 form that does not
  // unscramble to UTF-8.
  static std::optional<std::wstring> Unscramble(std::string_view letters, std::uint16_t key);
};

}  // namespace orlin
