#include "streams/signature_hash.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include "tests/streams/crypto_test_support.h"

namespace {

Bytes Sha256(const Bytes& data) {
  Bytes out(kSignatureHashSize);
  HashWithWords(sha256Words, data.data(), data.size(), out.data());
  return out;
}

TEST(SignatureHashTest, StandardWordsGiveSha256) {
  // Every padding length of one and two last blocks, then a long input, against libcrypto.
  std::mt19937_64 random(1);
  for (std::size_t size = 0; size <= 140; ++size) {
    Bytes data = RandomBytes(random, size == 140 ? 1000003 : size), theirs(SHA256_DIGEST_LENGTH);
    SHA256(data.data(), data.size(), theirs.data());
    EXPECT_EQ(Sha256(data), theirs) << "size " << size;
  }
}

}  // namespace
