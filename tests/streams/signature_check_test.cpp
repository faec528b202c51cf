#include "streams/signature_check.h"

#include <gtest/gtest.h>

#include "streams/key_material.h"
#include "tests/streams/crypto_test_support.h"
#include "tools/vpk/group_order.h"
#include "tools/vpk/signer.h"

namespace {

// Signatures made with the committed test key, whose package key is built in, and changed ones.
TEST(SignatureCheckTest, AcceptsWhatTheSignerMadeAndNothingElse) {
  std::uint8_t key[kPrivateKeySize], scalar[kPrivateKeySize], negated[kPrivateKeySize], u[32];
  ASSERT_TRUE(ReadPrivateKey(VELA_SOURCE_DIR "/keys/private_key.hex", key));
  EvenPrivateKey(key, scalar, u);
  ModOrderNegate(scalar, negated);
  BigNumber order(kOrderDecimal);
  std::mt19937_64 random(8);
  Bytes digest = RandomBytes(random, kDigestSize), wide = RandomBytes(random, 64), nonce(32);
  ModOrderReduceWide(wide.data(), nonce.data());
  auto sign = [&](const std::uint8_t* k, const std::uint32_t* words) {
    Bytes signature(kSignatureSize);
    SignDigestWith(k, nonce.data(), words, digest.data(), signature.data());
    return signature;
  };
  Bytes good = sign(scalar, signatureHashWords), other = digest, vZero = good, vPlusOrder = good;
  auto flip = [&](std::size_t at, std::uint8_t mask) {
    Bytes changed = good;
    changed[at] ^= mask;
    return changed;
  };
  other[19] ^= 4;
  std::fill(vZero.begin() + 36, vZero.end(), 0);
  BigNumber v(Bytes(good.begin() + 36, good.end()));
  BN_add(v.bn, v.bn, order.bn);
  Bytes sum = v.Bytes();
  std::copy(sum.begin(), sum.end(), vPlusOrder.begin() + 36);
  struct Case {
    const char* name;
    bool holds;
    const Bytes& digest;
    Bytes signature;
  } cases[] = {
      {"made by the signer", true, digest, good},
      {"v plus the group order", true, digest, vPlusOrder},
      {"key point with odd y (negated scalar)", false, digest, sign(negated, signatureHashWords)},
      {"hash with the standard SHA-256 words", false, digest, sign(scalar, sha256Words)},
      {"first byte of r changed", false, digest, flip(20, 1)},
      {"last byte of r changed", false, digest, flip(35, 0x80)},
      {"top bit of v set", false, digest, flip(67, 0x80)},
      {"v = 0, whose product is infinity", false, digest, vZero},
      {"another digest", false, other, good},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SignatureEquationHolds(c.digest.data(), c.signature.data()), c.holds) << c.name;
  }
}

}  // namespace
