#include "streams/hash_function.h"

#include <gtest/gtest.h>

#include "tests/support/stream_bytes.h"

namespace {

// One hash serves every message, as Digest starts the next one; data goes in uneven pieces, so
// that blocks straddle calls.
std::string Sha1Hex(Sha1Hash& hash, const std::string& data, std::mt19937& random) {
  for (std::size_t at = 0, piece = 0; at < data.size(); at += piece) {
    piece = std::min<std::size_t>(random() % 300, data.size() - at);
    hash.Update(data.data() + at, piece);
  }
  std::uint8_t digest[20];
  hash.Digest(digest);
  return HexBytes(digest, sizeof digest);
}

// Both engines, where this processor has the second; the one chosen at start is put back.
class Sha1HashTest : public testing::TestWithParam<Sha1Engine> {
 protected:
  void SetUp() override {
    if (!SelectSha1Engine(GetParam())) {
      GTEST_SKIP() << "this processor has no SHA instructions";
    }
  }
  void TearDown() override {
    if (!SelectSha1Engine(Sha1Engine::kProcessor)) {
      SelectSha1Engine(Sha1Engine::kPortable);
    }
  }
};

TEST_P(Sha1HashTest, MatchesLibcrypto) {
  std::mt19937 random(1);
  Sha1Hash hash;
  // Every padding length of one and two last blocks, then a long input.
  for (std::size_t size = 0; size <= 141; ++size) {
    std::string data = RandomBytes(random, size == 141 ? 3000007 : size);
    std::string theirs = LibcryptoSha1(data);
    EXPECT_EQ(Sha1Hex(hash, data, random), HexBytes(theirs.data(), theirs.size())) << size;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha1HashTest,
                         testing::Values(Sha1Engine::kPortable, Sha1Engine::kProcessor),
                         [](const testing::TestParamInfo<Sha1Engine>& info) {
                           return info.param == Sha1Engine::kPortable ? "Portable" : "Processor";
                         });

}  // namespace
