#include "app/store/state_cipher.h"

#include <algorithm>

#include "common/text.h"

namespace orlin {
namespace {

constexpr std::uint16_t NextKey(std::uint8_t scrambled, std::uint16_t key) {
  return static_cast<std::uint16_t>((static_cast<std::uint16_t>(scrambled + key)) * 52845u + 22719u);
}

// The byte form: each byte XOR the key's high byte, the key fed back.
std::string ScrambleBytes(std::string_view bytes, std::uint16_t key) {
  std::string letters;
  letters.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto out = static_cast<std::uint8_t>((static_cast<std::uint8_t>(c) ^ (key >> 8)) & 0xFF);
    key = NextKey(out, key);
    letters.push_back(static_cast<char>('A' + out / 26));
    letters.push_back(static_cast<char>('A' + out % 26));
  }
  return letters;
}

std::optional<std::string> UnscrambleBytes(std::string_view letters, std::uint16_t key) {
  if (letters.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(letters.size() / 2);
  for (std::size_t i = 0; i < letters.size(); i += 2) {
    const char first = letters[i];
    const char second = letters[i + 1];
    if (first < 'A' || first > 'Z' || second < 'A' || second > 'Z') return std::nullopt;
    const unsigned value = static_cast<unsigned>(first - 'A') * 26u + static_cast<unsigned>(second - 'A');
    // The writer only produces values up to 255 ("JV"); anything above is not
    // a scrambled byte and would silently wrap.
    if (value > 0xFF) return std::nullopt;
    const auto scrambled = static_cast<std::uint8_t>(value);
    bytes.push_back(static_cast<char>((scrambled ^ (key >> 8)) & 0xFF));
    key = NextKey(scrambled, key);
  }
  return bytes;
}

}  // namespace

std::string StateCipher::Scramble(std::wstring_view text, std::uint16_t key) {
  const bool fitsInBytes =
      std::all_of(text.begin(), text.end(), [](wchar_t c) { return static_cast<std::uint32_t>(c) <= 0xFF; });
  if (fitsInBytes) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t c : text) bytes.push_back(static_cast<char>(static_cast<std::uint8_t>(c)));
    return ScrambleBytes(bytes, key);
  }
  return std::string(kWideTag) + ScrambleBytes(WideToUtf8(text), key);
}

std::optional<std::wstring> StateCipher::Unscramble(std::string_view letters, std::uint16_t key) {
  if (letters.starts_with(kWideTag)) {
    // Only texts with a character above U+00FF are written this way, so the
    // form is never empty.
    const auto bytes = UnscrambleBytes(letters.substr(kWideTag.size()), key);
    if (!bytes || bytes->empty() || !IsValidUtf8(*bytes)) return std::nullopt;
    return Utf8ToWide(*bytes);
  }
  const auto bytes = UnscrambleBytes(letters, key);
  if (!bytes) return std::nullopt;
  std::wstring text;
  text.reserve(bytes->size());
  for (const char b : *bytes) text.push_back(static_cast<wchar_t>(static_cast<std::uint8_t>(b)));
  return text;
}

}  // namespace orlin
