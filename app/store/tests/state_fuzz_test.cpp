// Random and mutated inputs for the readers of untrusted state files. Beyond
// "does not crash" (the sanitizer build checks memory and undefined
// behaviour), each reader must keep its own promises on whatever it accepts.

#include <gtest/gtest.h>

#include <random>

#include "app/store/account_archive.h"
#include "app/store/ini_file.h"
#include "app/store/state_cipher.h"

namespace orlin {
namespace {

constexpr int kIterations = 4000;

std::string RandomBytes(std::mt19937& rng, std::size_t maxLength, std::string_view alphabet = {}) {
  std::uniform_int_distribution<std::size_t> length(0, maxLength);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string out(length(rng), '\0');
  for (auto& c : out) {
    c = alphabet.empty() ? static_cast<char>(byte(rng)) : alphabet[static_cast<std::size_t>(byte(rng)) % alphabet.size()];
  }
  return out;
}

// Flips, inserts, deletes or overwrites a few bytes.
std::string Mutate(std::mt19937& rng, std::string data) {
  std::uniform_int_distribution<int> count(1, 4);
  std::uniform_int_distribution<int> kind(0, 3);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int n = count(rng); n > 0; --n) {
    const std::size_t at = data.empty() ? 0 : std::uniform_int_distribution<std::size_t>(0, data.size() - 1)(rng);
    switch (kind(rng)) {
      case 0:
        if (!data.empty()) data[at] = static_cast<char>(data[at] ^ (1 << (byte(rng) % 8)));
        break;
      case 1:
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(byte(rng)));
        break;
      case 2:
        if (!data.empty()) data.erase(at, 1);
        break;
      default:
        if (!data.empty()) data[at] = static_cast<char>(0xFF);
        break;
    }
  }
  return data;
}

std::size_t CountLines(std::string_view text) {
  std::size_t lines = text.empty() ? 0 : 1;
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '\n') ++lines;
  return lines;
}

TEST(StateFuzz, IniParserAcceptsOrNamesALineOfTheInput) {
  std::mt19937 rng(20261208);
  const std::string seed = "# info\r\n[product]\r\nname=Orlin\r\noutname=Orlin_Sync\r\n\r\n[x]\na=b=c\n";
  for (int i = 0; i < kIterations; ++i) {
    const std::string text = (i % 2) ? Mutate(rng, seed) : RandomBytes(rng, 64, "[]=#\r\nab ");
    std::string error;
    const auto ini = IniDocument::Parse(text, &error);
    if (ini) {
      ini->Value("product", "outname");
      continue;
    }
    ASSERT_EQ(error.rfind("l", 0), 0u) << error;
    const std::size_t line = std::stoul(error.substr(1));
    EXPECT_GE(line, 1u);
    EXPECT_LE(line, CountLines(text)) << error;
    EXPECT_NE(error.find(": ini parsing failed, "), std::string::npos) << error;
  }
}

TEST(StateFuzz, ArchiveReaderNeverReadsPastItsInput) {
  std::mt19937 rng(1208);
  const std::string seed = EncodeAccountArchive({std::wstring(260, L'a'), L"server.example"});
  for (int i = 0; i < kIterations; ++i) {
    const std::string data = (i % 2) ? Mutate(rng, seed) : RandomBytes(rng, 48);
    std::size_t pos = 0;
    const auto first = DecodeArchiveString(data, pos);
    ASSERT_LE(pos, data.size());
    if (!first) {
      EXPECT_EQ(pos, 0u);
      continue;
    }
    // Whatever was accepted survives a write and a second read unchanged.
    std::size_t again = 0;
    EXPECT_EQ(DecodeArchiveString(EncodeArchiveString(*first), again), first);
    if (auto account = DecodeAccountArchive(data)) {
      EXPECT_EQ(DecodeAccountArchive(EncodeAccountArchive(*account)), account);
    }
  }
}

TEST(StateFuzz, UnscrambledTextScramblesBackToTheSameLetters) {
  std::mt19937 rng(42);
  const std::uint16_t keys[] = {StateCipher::kServerKey, StateCipher::kUserKey, StateCipher::kPasswordKey};
  const std::string seed = StateCipher::Scramble(L"nas.example.org", StateCipher::kServerKey);
  for (int i = 0; i < kIterations; ++i) {
    const std::string letters = (i % 2) ? Mutate(rng, seed) : RandomBytes(rng, 24, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const std::uint16_t key = keys[i % 3];
    const auto text = StateCipher::Unscramble(letters, key);
    if (!text) continue;
    EXPECT_EQ(text->size() * 2, letters.size());
    EXPECT_EQ(StateCipher::Scramble(*text, key), letters);
  }
}

}  // namespace
}  // namespace orlin
