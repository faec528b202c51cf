#include "tools/vpk/signer.h"

#include <gtest/gtest.h>

#include "streams/curve25519.h"
#include "tests/streams/crypto_test_support.h"
#include "tests/support/package_builder.h"
#include "tools/vpk/group_order.h"

namespace {

TEST(SignerTest, ReadsOnlyWellFormedPrivateKeys) {
  TemporaryDirectory dir;
  const std::string good = "0f00000000000000000000000000000000000000000000000000000000000001";
  struct Case {
    const char* name;
    std::string text;
    bool accepted;
  } cases[] = {
      {"bare line", good, true},
      {"comments, blank lines, CR LF", "# key\n\n  " + good + "\r\n# end\n", true},
      {"one digit short", good.substr(1), false},
      {"not hex", "0g" + good.substr(2), false},
      {"two keys", good + "\n" + good + "\n", false},
      {"zero", std::string(64, '0'), false},
      {"the group order", "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010",
       false},
      {"far too long", std::string(10000, '#'), false},
  };
  std::uint8_t key[kPrivateKeySize];
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteTestFile(dir / "key", c.text));
    EXPECT_EQ(ReadPrivateKey((dir / "key").c_str(), key), c.accepted) << c.name;
  }
  EXPECT_FALSE(ReadPrivateKey((dir / "missing").c_str(), key));
}

// Signatures are checked against the point of even y, so a key whose point has odd y signs with
// its negation; both parities come up among random keys.
TEST(SignerTest, EvenKeyIsTheScalarOrItsNegationWithEvenY) {
  std::mt19937_64 random(9);
  int negated = 0;
  for (int round = 0; round < 12; ++round) {
    Bytes wide = RandomBytes(random, 64), key(32), scalar(32), publicKey(32), minusKey(32), u(32);
    ModOrderReduceWide(wide.data(), key.data());
    EvenPrivateKey(key.data(), scalar.data(), publicKey.data());
    ModOrderNegate(key.data(), minusKey.data());
    ASSERT_TRUE(scalar == key || scalar == minusKey);
    negated += scalar == minusKey;
    CurvePoint point = ScalarMultiply(scalar.data(), BasePoint());
    EXPECT_FALSE(PointYIsOdd(point));
    PointU(point, u.data());
    EXPECT_EQ(u, publicKey);
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
