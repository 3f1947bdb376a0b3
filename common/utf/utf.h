#pragma once
// The one UTF-8 / UTF-16 codec of the product. Every conversion between the
// product's text forms goes through here, the platform layer's included, so
// they all agree on what is malformed: overlong forms, surrogates encoded in
// UTF-8, code points past U+10FFFF, truncated sequences and unpaired
// surrogates all become U+FFFD, one per offending unit; nothing is dropped.
//
// wchar_t is UTF-16 on Windows and UTF-32 elsewhere; the wide forms follow
// the platform, the char16_t forms are UTF-16 everywhere (the account
// archive's strings, for one).

#include <string>
#include <string_view>

namespace orlin {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point at `i` and advances `i`; a malformed sequence gives
// U+FFFD and advances one byte, so decoding resynchronises.
char32_t DecodeUtf8(std::string_view utf8, std::size_t& i);
void AppendUtf8(std::string& out, char32_t cp);

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
std::u16string WideToUtf16(std::wstring_view wide);
std::wstring Utf16ToWide(std::u16string_view utf16);

// True when `utf8` is well-formed UTF-8.
bool IsValidUtf8(std::string_view utf8);

}  // namespace orlin
