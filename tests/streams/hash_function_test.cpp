#include "streams/hash_function.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/stream_bytes.h"

namespace {

std::string OurSha1(const std::string& data) {
  Sha1Hash hash;
  hash.Update(data.data(), data.size());
  std::uint8_t digest[20];
  hash.Digest(digest);
  return HexBytes(digest, sizeof digest);
}

std::string LibcryptoSha1Hex(const std::string& data) {
  std::string digest = LibcryptoSha1(data);
  return HexBytes(digest.data(), digest.size());
}

TEST(Sha1HashTest, MatchesPublishedVectors) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "a49b2446a02c645bf419f995b67091253a04a259"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OurSha1(c.message), c.digest) << "message of " << c.message.size() << " bytes";
  }
}

// Random inputs of every length up to 200 bytes and a few megabytes, the latter fed in uneven
// pieces so that blocks straddle calls.
TEST(Sha1HashTest, MatchesLibcryptoOnRandomInputs) {
  std::mt19937 random(1);
  std::vector<std::size_t> sizes = {std::size_t{1} << 20, 3000007};
  for (std::size_t size = 0; size <= 200; ++size) {
    sizes.push_back(size);
  }
  Sha1Hash hash;
  for (std::size_t size : sizes) {
    std::string data = RandomBytes(random, size);
    for (std::size_t at = 0, piece = 0; at < size; at += piece) {
      piece = std::min<std::size_t>(size > 200 ? random() % 300 : size, size - at);
      hash.Update(data.data() + at, piece);
    }
    std::uint8_t digest[20];
    hash.Digest(digest);
    EXPECT_EQ(HexBytes(digest, sizeof digest), LibcryptoSha1Hex(data)) << size << " bytes";
  }
}

}  // namespace
