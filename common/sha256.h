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

}  // namespace orlin
