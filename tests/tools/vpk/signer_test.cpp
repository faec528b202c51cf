#include "tools/vpk/signer.h"

#include <gtest/gtest.h>

#include "streams/curve25519.h"
#include "tests/streams/crypto_test_support.h"
#include "tests/support/package_builder.h"
#include "tools/vpk/group_order.h"

namespace {

// One line of 64 hex digits besides comments and blank lines, for a scalar in [1, group order).
TEST(SignerTest, ReadsOnlyWellFormedPrivateKeys) {
  TemporaryDirectory dir;
  const std::string good = "0f00000000000000000000000000000000000000000000000000000000000001";
  std::pair<std::string, bool> cases[] = {
      {"# key\n\n  " + good + "\r\n# end\n", true},
      {good.substr(1), false},
      {good + "\n" + good + "\n", false},
      {std::string(64, '0'), false},
      {"edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010", false},
      {std::string(10000, '#'), false}};
  std::uint8_t key[kPrivateKeySize];
  for (const auto& [text, accepted] : cases) {
    ASSERT_TRUE(WriteTestFile(dir / "key", text));
    EXPECT_EQ(ReadPrivateKey((dir / "key").c_str(), key), accepted) << text.substr(0, 70);
  }
}

// Signatures are checked against the point of even y: a key of odd y signs with its negation.
TEST(SignerTest, EvenKeyIsTheScalarOrItsNegationWithEvenY) {
  std::mt19937_64 random(9);
  int negated = 0;
  for (int round = 0; round < 12; ++round) {
    Bytes wide = RandomBytes(random, 64), key(32), scalar(32), publicKey(32), minusKey(32);
    ModOrderReduceWide(wide.data(), key.data());
    EvenPrivateKey(key.data(), scalar.data(), publicKey.data());
    ModOrderNegate(key.data(), minusKey.data());
    ASSERT_TRUE(scalar == key || scalar == minusKey);
    negated += scalar == minusKey;
    EXPECT_FALSE(PointYIsOdd(ScalarMultiply(scalar.data(), BasePoint())));
  }
  EXPECT_GT(negated, 0);
  EXPECT_LT(negated, 12);
}

TEST(SignerTest, EverySignatureOfTheTestKeyVerifiesWithAFreshNonce) {
  std::uint8_t key[kPrivateKeySize];
  ASSERT_TRUE(ReadPrivateKey(VELA_SOURCE_DIR "/keys/private_key.hex", key));
  Bytes digest(kDigestSize, 0x5a), first(kSignatureSize), second(kSignatureSize);
  ASSERT_TRUE(SignDigest(key, digest.data(), first.data()));
  ASSERT_TRUE(SignDigest(key, digest.data(), second.data()));
  EXPECT_TRUE(std::equal(digest.begin(), digest.end(), first.begin()));
  EXPECT_NE(first, second);
  EXPECT_TRUE(SignatureEquationHolds(digest.data(), first.data()));
  EXPECT_TRUE(SignatureEquationHolds(digest.data(), second.data()));
}

}  // namespace
