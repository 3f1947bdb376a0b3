#pragma once
// Conversions between the product's two text forms: UTF-16 (wide) for UI
// text, paths and window messages, UTF-8 for files, JSON and URLs.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/utf/utf.h"

namespace orlin {

// Utf8ToWide, WideToUtf8 and IsValidUtf8 come from the codec (common/utf).

// A wide text naming a file, and back. std::filesystem's own conversion of
// wide texts goes through the "C" locale on POSIX and throws on every name
// outside ASCII; these go through UTF-8, which is what file names on POSIX
// and the engine's paths are, and are exact on Windows as well.
std::filesystem::path PathFromWide(std::wstring_view wide);
std::wstring WideFromPath(const std::filesystem::path& path);


// ASCII-only case folding, as the product compares keys and image names.
std::wstring AsciiLower(std::wstring_view text);
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

// Copies `text` into a fixed-width NUL-terminated field of `width` bytes,
// cutting it to width - 1 bytes without splitting a UTF-8 sequence.
void CopyToField(char* field, std::size_t width, std::string_view text);

}  // namespace orlin
