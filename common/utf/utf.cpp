#include "common/utf/utf.h"

namespace orlin {
namespace {

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// The code point a wide text holds at `i`, joining a surrogate pair where
// wchar_t is UTF-16; advances `i`.
char32_t NextWide(std::wstring_view wide, std::size_t& i) {
  char32_t cp = static_cast<char32_t>(wide[i++]);
  if constexpr (sizeof(wchar_t) == 2) {
    cp &= 0xFFFF;
    if (cp >= 0xD800 && cp <= 0xDBFF && i < wide.size()) {
      const char32_t lo = static_cast<char32_t>(wide[i]) & 0xFFFF;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        ++i;
        return 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
      }
    }
  }
  if (IsSurrogate(cp) || cp > 0x10FFFF) return kReplacementCharacter;
  return cp;
}

void AppendWide(std::wstring& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

}  // namespace

char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacementCharacter;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i;
    return kReplacementCharacter;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacementCharacter;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) {
    ++i;
    return kReplacementCharacter;
  }
  i += extra + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (IsSurrogate(cp) || cp > 0x10FFFF) cp = kReplacementCharacter;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) AppendWide(out, DecodeUtf8(utf8, i));
  return out;
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  std::size_t i = 0;
  while (i < wide.size()) AppendUtf8(out, NextWide(wide, i));
  return out;
}

std::u16string WideToUtf16(std::wstring_view wide) {
  std::u16string out;
  out.reserve(wide.size());
  std::size_t i = 0;
  while (i < wide.size()) {
    char32_t cp = NextWide(wide, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::wstring Utf16ToWide(std::u16string_view units) {
  std::wstring out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(cp)) {
      cp = kReplacementCharacter;
    }
    AppendWide(out, cp);
  }
  return out;
}

bool IsValidUtf8(std::string_view utf8) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::size_t before = i;
    // A literal U+FFFD (EF BF BD) is valid; a decoding failure advances one byte.
    if (DecodeUtf8(utf8, i) == kReplacementCharacter && i - before != 3) return false;
  }
  return true;
}

}  // namespace orlin
