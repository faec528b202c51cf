#include "streams/field25519.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/streams/crypto_test_support.h"

namespace {

Bytes Ours(const FieldElement& a) {
  Bytes bytes(kFieldBytes);
  FieldToBytes(a, bytes.data());
  return bytes;
}

// Values around p and the limb boundaries, where a reduction can go wrong, and random 256-bit
// values (bit 255 included), against libcrypto modulo p.
TEST(Field25519Test, ArithmeticMatchesBigNumbersModuloP) {
  BigNumber p(kPrimeDecimal), half, zero("0"), limb("2251799813685248");  // 2^51
  BN_rshift1(half.bn, p.bn);                                              // (p-1)/2: p is odd
  std::vector<Bytes> values = {PlusBytes(zero, 0), PlusBytes(zero, 1),  PlusBytes(zero, 19),
                               PlusBytes(p, -1),   PlusBytes(p, 0),     PlusBytes(p, 1),
                               PlusBytes(p, 18),   PlusBytes(limb, -1), PlusBytes(limb, 0),
                               Bytes(32, 0xff)};  // p + 18 = 2^255 - 1
  std::mt19937_64 random(3);
  for (int i = 0; i < 24; ++i) {
    values.push_back(RandomBytes(random, 32));
  }
  std::unique_ptr<BN_CTX, void (*)(BN_CTX*)> holder(BN_CTX_new(), BN_CTX_free);
  BN_CTX* context = holder.get();
  for (const Bytes& x : values) {
    SCOPED_TRACE(Hex(x));
    FieldElement a = FieldFromBytes(x.data()), root;
    BigNumber reduced, inverse, squared, power;
    BN_nnmod(reduced.bn, BigNumber(x).bn, p.bn, context);
    if (!BN_is_zero(reduced.bn)) {
      BN_mod_inverse(inverse.bn, reduced.bn, p.bn, context);
    }
    BN_mod_sqr(squared.bn, reduced.bn, p.bn, context);
    BN_mod_exp(power.bn, reduced.bn, half.bn, p.bn, context);  // Euler's criterion
    EXPECT_EQ(Ours(a), reduced.Bytes());
    EXPECT_EQ(Ours(FieldInvert(a)), inverse.Bytes());
    EXPECT_EQ(Ours(FieldSquare(a)), squared.Bytes());
    EXPECT_EQ(FieldIsZero(a), BN_is_zero(reduced.bn) == 1);
    EXPECT_EQ(FieldIsOdd(a), BN_is_odd(reduced.bn) == 1);
    bool square = BN_is_one(power.bn) || BN_is_zero(power.bn);
    ASSERT_EQ(FieldSquareRoot(a, &root), square);
    EXPECT_TRUE(!square || FieldEqual(FieldSquare(root), a));
    for (const Bytes& y : values) {
      FieldElement b = FieldFromBytes(y.data());
      BigNumber by(y), sum, difference, product;
      BN_mod_add(sum.bn, reduced.bn, by.bn, p.bn, context);
      BN_mod_sub(difference.bn, reduced.bn, by.bn, p.bn, context);
      BN_mod_mul(product.bn, reduced.bn, by.bn, p.bn, context);
      ASSERT_EQ(Ours(FieldAdd(a, b)), sum.Bytes()) << Hex(y);
      ASSERT_EQ(Ours(FieldSubtract(a, b)), difference.Bytes()) << Hex(y);
      ASSERT_EQ(Ours(FieldMultiply(a, b)), product.Bytes()) << Hex(y);
    }
  }
}

}  // namespace
