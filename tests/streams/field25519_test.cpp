#include "streams/field25519.h"

#include <gtest/gtest.h>

#include "tests/streams/crypto_test_support.h"

namespace {

// Values around the modulus and the limb boundaries, where a reduction can go wrong, and random
// 256-bit values (bit 255 included).
std::vector<std::vector<std::uint8_t>> SampleValues() {
  const char* edges[] = {
      "0",
      "1",
      "2",
      "19",
      "57896044618658097711785492504343953926634992332820282019728792003956564819948",   // p-1
      "57896044618658097711785492504343953926634992332820282019728792003956564819949",   // p
      "57896044618658097711785492504343953926634992332820282019728792003956564819950",   // p+1
      "57896044618658097711785492504343953926634992332820282019728792003956564819967",   // 2^255-1
      "115792089237316195423570985008687907853269984665640564039457584007913129639935",  // 2^256-1
      "2251799813685247",                                                                // 2^51-1
      "2251799813685248",                                                                // 2^51
  };
  std::vector<std::vector<std::uint8_t>> values;
  for (const char* edge : edges) {
    values.push_back(BigNumber(edge).Bytes());
  }
  std::mt19937_64 random(3);
  for (int i = 0; i < 40; ++i) {
    values.push_back(RandomBytes(random, 32));
  }
  return values;
}

struct Reference {
  BigNumber p{"57896044618658097711785492504343953926634992332820282019728792003956564819949"};
  BN_CTX* context = BN_CTX_new();
  ~Reference() { BN_CTX_free(context); }
};

std::vector<std::uint8_t> Ours(const FieldElement& a) {
  std::vector<std::uint8_t> bytes(kFieldBytes);
  FieldToBytes(a, bytes.data());
  return bytes;
}

TEST(Field25519Test, ArithmeticMatchesBigNumbersModuloP) {
  Reference ref;
  std::vector<std::vector<std::uint8_t>> values = SampleValues();
  for (const auto& x : values) {
    for (const auto& y : values) {
      FieldElement a = FieldFromBytes(x.data()), b = FieldFromBytes(y.data());
      BigNumber bx(x), by(y), sum, difference, product, square;
      BN_mod_add(sum.bn, bx.bn, by.bn, ref.p.bn, ref.context);
      BN_mod_sub(difference.bn, bx.bn, by.bn, ref.p.bn, ref.context);
      BN_mod_mul(product.bn, bx.bn, by.bn, ref.p.bn, ref.context);
      BN_mod_sqr(square.bn, bx.bn, ref.p.bn, ref.context);
      std::string at = ToHex(x.data(), 32) + " " + ToHex(y.data(), 32);
      ASSERT_EQ(Ours(FieldAdd(a, b)), sum.Bytes()) << at;
      ASSERT_EQ(Ours(FieldSubtract(a, b)), difference.Bytes()) << at;
      ASSERT_EQ(Ours(FieldMultiply(a, b)), product.Bytes()) << at;
      ASSERT_EQ(Ours(FieldSquare(a)), square.Bytes()) << at;
    }
  }
}

TEST(Field25519Test, InverseAndSmallFactorsMatchBigNumbers) {
  Reference ref;
  for (const auto& x : SampleValues()) {
    FieldElement a = FieldFromBytes(x.data());
    BigNumber bx(x), reduced, inverse, times;
    BN_nnmod(reduced.bn, bx.bn, ref.p.bn, ref.context);
    if (!BN_is_zero(reduced.bn)) {
      BN_mod_inverse(inverse.bn, reduced.bn, ref.p.bn, ref.context);
    }
    BN_mod_mul(times.bn, reduced.bn, BigNumber("486662").bn, ref.p.bn, ref.context);
    EXPECT_EQ(Ours(FieldInvert(a)), inverse.Bytes()) << ToHex(x.data(), 32);
    EXPECT_EQ(Ours(FieldMultiplySmall(a, 486662)), times.Bytes()) << ToHex(x.data(), 32);
    EXPECT_EQ(Ours(a), reduced.Bytes());
    EXPECT_EQ(FieldIsZero(a), BN_is_zero(reduced.bn) == 1);
    EXPECT_EQ(FieldIsOdd(a), BN_is_odd(reduced.bn) == 1);
  }
}

TEST(Field25519Test, SquareRootExistsExactlyForSquares) {
  Reference ref;
  BigNumber halfOrder, power;
  BN_rshift1(halfOrder.bn, ref.p.bn);  // (p-1)/2 since p is odd
  for (const auto& x : SampleValues()) {
    BigNumber bx(x);
    BN_mod_exp(power.bn, bx.bn, halfOrder.bn, ref.p.bn, ref.context);
    bool square = !BN_is_one(power.bn) ? BN_is_zero(power.bn) == 1 : true;  // Euler's criterion
    FieldElement a = FieldFromBytes(x.data()), root;
    ASSERT_EQ(FieldSquareRoot(a, &root), square) << ToHex(x.data(), 32);
    if (square) {
      EXPECT_TRUE(FieldEqual(FieldSquare(root), a)) << ToHex(x.data(), 32);
    }
  }
}

}  // namespace
