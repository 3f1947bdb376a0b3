#pragma once
// The scrambling of the three lines of the credentials marker
// (syncconfig/config.xml.configured). It keeps the server, user name and
// password from being read at a glance; it is not encryption. Every line has
// its own fixed key, and the login (writer) and the versioning setting
// (reader) must use the same three.
//
// Only the low 8 bits of each character survive a round trip: characters
// above U+00FF come back as a different character.

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

  // Two capital letters per character of `text`.
  static std::string Scramble(std::wstring_view text, std::uint16_t key);

  // The text back from its letters. Empty letters give an empty text.
  // std::nullopt when `letters` holds anything but 'A'..'Z', an odd number of
  // letters, or a pair that no byte scrambles to.
  static std::optional<std::wstring> Unscramble(std::string_view letters, std::uint16_t key);
};

}  // namespace orlin
