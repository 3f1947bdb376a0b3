#pragma once
// The account archive (syncconfig/config.xml.tarncloud): the signed-in user
// name and the server address (scheme removed), in this order, each stored as
// an archive string:
//   0xFF, the word 0xFFFE (UTF-16 tag), the length in UTF-16 units
//   (one byte below 255; else 0xFF and a word below 0xFFFE; else 0xFF, the
//   word 0xFFFF and a 32-bit length), then the UTF-16LE units.
// All numbers are little-endian. A string without the tag holds 8-bit
// characters; it is accepted on reading but never written.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace orlin {

struct AccountArchive {
  std::wstring userName;
  std::wstring server;

  bool operator==(const AccountArchive&) const = default;
};

// One archive string in its stored form.
std::string EncodeArchiveString(std::wstring_view text);

// Decodes the archive string starting at `pos` and advances `pos` past it.
// std::nullopt (and `pos` unchanged) when the data is truncated, the length
// runs past the end of `data`, or the length form is malformed. Nothing is
// allocated for a length that the data cannot hold.
std::optional<std::wstring> DecodeArchiveString(std::string_view data, std::size_t& pos);

std::string EncodeAccountArchive(const AccountArchive& account);
// std::nullopt when either string cannot be decoded. Bytes after the second
// string are ignored.
std::optional<AccountArchive> DecodeAccountArchive(std::string_view data);

// A missing, unreadable or corrupt file reads as an archive with both strings
// empty.
AccountArchive ReadAccountArchiveFile(const std::filesystem::path& file);

// Replaces the file whole; a new file is readable by its owner only.
std::error_code WriteAccountArchiveFile(const std::filesystem::path& file, const AccountArchive& account);

}  // namespace orlin
