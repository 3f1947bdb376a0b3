#include "common/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace orlin {
namespace {

// Test vectors of FIPS 180-4, and lengths around the padding boundaries
// checked against the openssl command of the test machine's build.
TEST(Sha256, KnownDigests) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(Sha256Hex(std::string(55, 'x')), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072");
  EXPECT_EQ(Sha256Hex(std::string(56, 'x')), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e");
  EXPECT_EQ(Sha256Hex(std::string(64, 'x')), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c");
}

// Pieces of every size up to two blocks and across the padding boundaries
// give the digest of the whole, and a finished stream starts over.
TEST(Sha256, StreamInPiecesGivesTheDigestOfTheWhole) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7 + i / 13));
  for (std::size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 128u, 1000u}) {
    const std::string_view whole(data.data(), length);
    for (std::size_t piece = 1; piece <= 130; piece += 7) {
      Sha256Stream stream;
      for (std::size_t at = 0; at < whole.size(); at += piece) stream.Update(whole.substr(at, piece));
      ASSERT_EQ(stream.FinishHex(), Sha256Hex(whole)) << "length " << length << ", pieces of " << piece;
      stream.Update("abc");
      ASSERT_EQ(stream.FinishHex(), Sha256Hex("abc"));
    }
  }
}

}  // namespace
}  // namespace orlin
