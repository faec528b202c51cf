#include "streams/signature_hash.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <string>

#include "streams/key_material.h"
#include "tests/streams/crypto_test_support.h"

namespace {

std::string HashHex(const std::uint32_t* words, const std::string& message) {
  std::uint8_t out[kSignatureHashSize];
  HashWithWords(words, reinterpret_cast<const std::uint8_t*>(message.data()), message.size(), out);
  return ToHex(out, sizeof out);
}

TEST(SignatureHashTest, StandardWordsGiveTheFipsSha256Vectors) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HashHex(sha256Words, c.message), c.digest) << "length " << c.message.size();
  }
}

TEST(SignatureHashTest, StandardWordsMatchLibcryptoAtEveryPaddingLength) {
  std::mt19937_64 random(1);
  for (std::size_t size = 0; size < 200; ++size) {
    std::vector<std::uint8_t> data = RandomBytes(random, size);
    std::uint8_t ours[kSignatureHashSize], theirs[SHA256_DIGEST_LENGTH];
    HashWithWords(sha256Words, data.data(), data.size(), ours);
    SHA256(data.data(), data.size(), theirs);
    EXPECT_EQ(ToHex(ours, sizeof ours), ToHex(theirs, sizeof theirs)) << "size " << size;
  }
}

TEST(SignatureHashTest, BuiltInWordsAreTheKeyWordsNotTheStandardOnes) {
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  std::uint8_t builtIn[kSignatureHashSize], withKeyWords[kSignatureHashSize];
  SignatureHash(abc, sizeof abc, builtIn);
  HashWithWords(signatureHashWords, abc, sizeof abc, withKeyWords);
  EXPECT_EQ(ToHex(builtIn, sizeof builtIn), ToHex(withKeyWords, sizeof withKeyWords));
  EXPECT_NE(ToHex(builtIn, sizeof builtIn), HashHex(sha256Words, "abc"));
}

TEST(SignatureHashTest, ChallengeCarriesRInBytes8To23AndIsClamped) {
  std::mt19937_64 random(2);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::uint8_t> digest = RandomBytes(random, kDigestSize);
    std::vector<std::uint8_t> r = RandomBytes(random, kSignatureRSize);
    const std::uint8_t zero[kSignatureRSize] = {};
    std::uint8_t plain[kSignatureHashSize], mixed[kSignatureHashSize], hash[kSignatureHashSize];
    SignatureChallengeWithWords(sha256Words, digest.data(), zero, plain);
    SignatureChallengeWithWords(sha256Words, digest.data(), r.data(), mixed);
    HashWithWords(sha256Words, digest.data(), digest.size(), hash);
    for (int i = 0; i < kSignatureHashSize; ++i) {
      std::uint8_t expected = i >= 8 && i < 24 ? r[static_cast<std::size_t>(i - 8)] : 0;
      EXPECT_EQ(plain[i] ^ mixed[i], expected) << "byte " << i;
    }
    EXPECT_EQ(mixed[0], hash[0] & 0xF8);
    EXPECT_EQ(mixed[31], (hash[31] & 0x3F) | 0x40);
    EXPECT_EQ(std::memcmp(mixed + 1, hash + 1, 7), 0);
  }
}

}  // namespace
