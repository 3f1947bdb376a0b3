#include "app/store/account_archive.h"

#include "common/utf/utf.h"

#include <cstdint>

#include "common/atomic_file.h"

namespace orlin {
namespace {

constexpr std::uint16_t kUnicodeTag = 0xFFFE;
constexpr unsigned kCredentialFileMode = 0600;

void PutByte(std::string& out, std::uint8_t b) { out.push_back(static_cast<char>(b)); }

void PutWord(std::string& out, std::uint16_t w) {
  PutByte(out, static_cast<std::uint8_t>(w & 0xFF));
  PutByte(out, static_cast<std::uint8_t>(w >> 8));
}

void PutDword(std::string& out, std::uint32_t d) {
  PutWord(out, static_cast<std::uint16_t>(d & 0xFFFF));
  PutWord(out, static_cast<std::uint16_t>(d >> 16));
}

class Reader {
 public:
  Reader(std::string_view data, std::size_t pos) : data_(data), pos_(pos) {}

  std::size_t pos() const { return pos_; }
  std::size_t left() const { return pos_ <= data_.size() ? data_.size() - pos_ : 0; }

  bool Byte(std::uint8_t& b) {
    if (left() < 1) return false;
    b = static_cast<std::uint8_t>(data_[pos_++]);
    return true;
  }
  bool Word(std::uint16_t& w) {
    std::uint8_t lo = 0, hi = 0;
    if (left() < 2) return false;
    Byte(lo);
    Byte(hi);
    w = static_cast<std::uint16_t>(lo | (hi << 8));
    return true;
  }
  bool Dword(std::uint32_t& d) {
    std::uint16_t lo = 0, hi = 0;
    if (left() < 4) return false;
    Word(lo);
    Word(hi);
    d = static_cast<std::uint32_t>(lo) | (static_cast<std::uint32_t>(hi) << 16);
    return true;
  }
  std::string_view Take(std::size_t n) {
    std::string_view piece = data_.substr(pos_, n);
    pos_ += n;
    return piece;
  }

 private:
  std::string_view data_;
  std::size_t pos_;
};

// Reads the length that follows a leading 0xFF byte (the word form and,
// behind it, the 32-bit form).
bool ReadLongLength(Reader& in, std::uint32_t& length) {
  std::uint16_t word = 0;
  if (!in.Word(word)) return false;
  if (word < 0xFFFE) {
    length = word;
    return true;
  }
  if (word == 0xFFFF) return in.Dword(length);
  return false;  // a second UTF-16 tag is not a length
}

}  // namespace

std::string EncodeArchiveString(std::wstring_view text) {
  const std::u16string units = WideToUtf16(text);
  std::string out;
  out.reserve(3 + 7 + units.size() * 2);
  PutByte(out, 0xFF);
  PutWord(out, kUnicodeTag);
  const std::size_t n = units.size();
  if (n < 0xFF) {
    PutByte(out, static_cast<std::uint8_t>(n));
  } else if (n < 0xFFFE) {
    PutByte(out, 0xFF);
    PutWord(out, static_cast<std::uint16_t>(n));
  } else {
    PutByte(out, 0xFF);
    PutWord(out, 0xFFFF);
    PutDword(out, static_cast<std::uint32_t>(n));
  }
  for (const char16_t u : units) PutWord(out, static_cast<std::uint16_t>(u));
  return out;
}

std::optional<std::wstring> DecodeArchiveString(std::string_view data, std::size_t& pos) {
  Reader in(data, pos);
  bool wide = false;
  std::uint32_t length = 0;
  std::uint8_t first = 0;
  if (!in.Byte(first)) return std::nullopt;
  if (first < 0xFF) {
    length = first;
  } else {
    std::uint16_t word = 0;
    if (!in.Word(word)) return std::nullopt;
    if (word == kUnicodeTag) {
      wide = true;
      std::uint8_t b = 0;
      if (!in.Byte(b)) return std::nullopt;
      if (b < 0xFF) {
        length = b;
      } else if (!ReadLongLength(in, length)) {
        return std::nullopt;
      }
    } else if (word < 0xFFFE) {
      length = word;
    } else if (!in.Dword(length)) {
      return std::nullopt;
    }
  }

  const std::uint64_t bytes = static_cast<std::uint64_t>(length) * (wide ? 2u : 1u);
  if (bytes > in.left()) return std::nullopt;
  const std::string_view raw = in.Take(static_cast<std::size_t>(bytes));

  std::wstring text;
  if (wide) {
    std::u16string units(length, u'\0');
    for (std::uint32_t i = 0; i < length; ++i) {
      units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(raw[2 * i]) |
                                       (static_cast<std::uint8_t>(raw[2 * i + 1]) << 8));
    }
    text = Utf16ToWide(units);
  } else {
    // 8-bit strings carry no code page; take them as Latin-1.
    text.reserve(raw.size());
    for (const char c : raw) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  pos = in.pos();
  return text;
}

std::string EncodeAccountArchive(const AccountArchive& account) {
  return EncodeArchiveString(account.userName) + EncodeArchiveString(account.server);
}

std::optional<AccountArchive> DecodeAccountArchive(std::string_view data) {
  std::size_t pos = 0;
  auto user = DecodeArchiveString(data, pos);
  if (!user) return std::nullopt;
  auto server = DecodeArchiveString(data, pos);
  if (!server) return std::nullopt;
  return AccountArchive{std::move(*user), std::move(*server)};
}

AccountArchive ReadAccountArchiveFile(const std::filesystem::path& file) {
  std::string data;
  if (!ReadWholeFile(file, data)) return {};
  auto account = DecodeAccountArchive(data);
  return account ? std::move(*account) : AccountArchive{};
}

std::error_code WriteAccountArchiveFile(const std::filesystem::path& file, const AccountArchive& account) {
  return WriteFileAtomically(file, EncodeAccountArchive(account), AtomicWriteOptions{kCredentialFileMode});
}

}  // namespace orlin
