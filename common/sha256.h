#pragma once
// SHA-256 (FIPS 180-4), for fingerprints of server certificates. Small and
// dependency-free so that every build, the Windows one included, computes
// the same value from the same bytes.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orlin {

std::array<std::uint8_t, 32> Sha256(std::string_view data);

// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view data);

// The same digest over data that arrives in pieces (a downloaded package is
// checked as it is read, never held whole in memory).
class Sha256Stream {
 public:
  void Update(std::string_view data);
  // The digest of everything given; the stream starts over afterwards.
  std::string FinishHex();

 private:
  std::uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::uint8_t block_[64] = {};
  std::size_t blockSize_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace orlin
