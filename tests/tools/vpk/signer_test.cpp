#include "tools/vpk/signer.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "streams/curve25519.h"
#include "streams/key_material.h"
#include "tests/streams/crypto_test_support.h"
#include "tools/vpk/group_order.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string WriteTemporary(const std::string& text) {
  char path[] = "/tmp/vpk_signer_test_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  return path;
}

TEST(SignerTest, ReadsOnlyWellFormedPrivateKeys) {
  const std::string good = "0f00000000000000000000000000000000000000000000000000000000000001";
  struct Case {
    const char* name;
    std::string text;
    bool accepted;
  } cases[] = {
      {"bare line", good, true},
      {"comments, blank lines, CR LF", "# key\n\n  " + good + "\r\n# end\n", true},
      {"upper case", "0F00000000000000000000000000000000000000000000000000000000000001", true},
      {"one digit short", good.substr(1), false},
      {"not hex", "0g" + good.substr(2), false},
      {"two keys", good + "\n" + good + "\n", false},
      {"empty", "", false},
      {"zero", std::string(64, '0'), false},
      {"the group order", "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010",
       false},
      {"all ones", std::string(64, 'f'), false},
      {"far too long", std::string(10000, '#'), false},
  };
  for (const Case& c : cases) {
    std::string path = WriteTemporary(c.text);
    std::uint8_t key[kPrivateKeySize];
    EXPECT_EQ(ReadPrivateKey(path.c_str(), key), c.accepted) << c.name;
    unlink(path.c_str());
  }
  std::uint8_t key[kPrivateKeySize];
  EXPECT_FALSE(ReadPrivateKey("/nonexistent/private_key.hex", key));
}

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
    CurvePoint point = ScalarMultiply(scalar.data(), BasePoint());
    EXPECT_FALSE(PointYIsOdd(point));
    Bytes u(32);
    PointU(point, u.data());
    EXPECT_EQ(u, publicKey);
  }
  EXPECT_GT(negated, 0);  // both parities occurred, so the choice was exercised
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
