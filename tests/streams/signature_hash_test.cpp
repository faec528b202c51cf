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
  EXPECT_EQ(Hex(Sha256({'a', 'b', 'c'})),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(Sha256(Bytes(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // Every padding length of one and two last blocks, against libcrypto.
  std::mt19937_64 random(1);
  for (std::size_t size = 0; size < 140; ++size) {
    Bytes data = RandomBytes(random, size), theirs(SHA256_DIGEST_LENGTH);
    SHA256(data.data(), data.size(), theirs.data());
    EXPECT_EQ(Sha256(data), theirs) << "size " << size;
  }
}

}  // namespace
