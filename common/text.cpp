#include "common/text.h"

#include <cstring>

namespace orlin {

std::wstring AsciiLower(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

void CopyToField(char* field, std::size_t width, std::string_view text) {
  if (width == 0) return;
  std::size_t n = text.size() < width - 1 ? text.size() : width - 1;
  if (n < text.size()) {
    // Step back over continuation bytes so a cut never splits a character.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  if (n > 0) std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

std::filesystem::path PathFromWide(std::wstring_view wide) {
  const std::string utf8 = WideToUtf8(wide);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::wstring WideFromPath(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

}  // namespace orlin
