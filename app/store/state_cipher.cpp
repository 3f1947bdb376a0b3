#include "app/store/state_cipher.h"

namespace orlin {
namespace {

constexpr std::uint16_t NextKey(std::uint8_t scrambled, std::uint16_t key) {
  return static_cast<std::uint16_t>((static_cast<std::uint16_t>(scrambled + key)) * 52845u + 22719u);
}

}  // namespace

std::string StateCipher::Scramble(std::wstring_view text, std::uint16_t key) {
  std::string letters;
  letters.reserve(text.size() * 2);
  for (const wchar_t c : text) {
    const auto out = static_cast<std::uint8_t>((static_cast<std::uint32_t>(c) ^ (key >> 8)) & 0xFF);
    key = NextKey(out, key);
    letters.push_back(static_cast<char>('A' + out / 26));
    letters.push_back(static_cast<char>('A' + out % 26));
  }
  return letters;
}

std::optional<std::wstring> StateCipher::Unscramble(std::string_view letters, std::uint16_t key) {
  if (letters.size() % 2 != 0) return std::nullopt;
  std::wstring text;
  text.reserve(letters.size() / 2);
  for (std::size_t i = 0; i < letters.size(); i += 2) {
    const char first = letters[i];
    const char second = letters[i + 1];
    if (first < 'A' || first > 'Z' || second < 'A' || second > 'Z') return std::nullopt;
    const unsigned value = static_cast<unsigned>(first - 'A') * 26u + static_cast<unsigned>(second - 'A');
    // The writer only produces values up to 255 ("JV"); anything above is not
    // a scrambled byte and would silently wrap.
    if (value > 0xFF) return std::nullopt;
    const auto scrambled = static_cast<std::uint8_t>(value);
    text.push_back(static_cast<wchar_t>((scrambled ^ (key >> 8)) & 0xFF));
    key = NextKey(scrambled, key);
  }
  return text;
}

}  // namespace orlin
