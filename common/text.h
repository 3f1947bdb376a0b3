#pragma once
// Conversions between the product's two text forms: UTF-16 (wide) for UI
// text, paths and window messages, UTF-8 for files, JSON and URLs.

#include <filesystem>
#include <string>
#include <string_view>

namespace orlin {

// Invalid UTF-8 sequences become U+FFFD; nothing is dropped silently.
std::wstring Utf8ToWide(std::string_view utf8);
// Unpaired surrogates (Windows) or out-of-range code points become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// A wide text naming a file, and back. std::filesystem's own conversion of
// wide texts goes through the "C" locale on POSIX and throws on every name
// outside ASCII; these go through UTF-8, which is what file names on POSIX
// and the engine's paths are, and are exact on Windows as well.
std::filesystem::path PathFromWide(std::wstring_view wide);
std::wstring WideFromPath(const std::filesystem::path& path);

// True when `utf8` is well-formed UTF-8.
bool IsValidUtf8(std::string_view utf8);

// ASCII-only case folding, as the product compares keys and image names.
std::wstring AsciiLower(std::wstring_view text);
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

// Copies `text` into a fixed-width NUL-terminated field of `width` bytes,
// cutting it to width - 1 bytes without splitting a UTF-8 sequence.
void CopyToField(char* field, std::size_t width, std::string_view text);

}  // namespace orlin
