#include "streams/curve25519.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>

#include "tests/streams/crypto_test_support.h"

namespace {

const char* kOrderDecimal =
    "7237005577332262213973186563042994240857116359379907606001950938285454250989";

using Bytes = std::vector<std::uint8_t>;

// X25519 as its vectors define it: clamped scalar, u without bit 255.
Bytes X25519(Bytes scalar, Bytes u) {
  scalar[0] &= 248;
  scalar[31] = (scalar[31] & 127) | 64;
  u[31] &= 127;
  Bytes out(32);
  ScalarMultiplyU(scalar.data(), u.data(), out.data());
  return out;
}

Bytes U(const CurvePoint& point) {
  Bytes u(32);
  PointU(point, u.data());
  return u;
}

CurvePoint Times(const Bytes& scalar, const CurvePoint& point) {
  return ScalarMultiply(scalar.data(), point);
}

bool OnCurve(const CurvePoint& p) {
  FieldElement right = FieldMultiply(
      p.u, FieldAdd(FieldMultiply(p.u, FieldAdd(p.u, FieldFromInt(486662))), FieldFromInt(1)));
  return p.infinity || FieldEqual(FieldSquare(p.y), right);
}

TEST(Curve25519Test, LadderGivesTheRfc7748Vectors) {
  struct Case {
    const char *scalar, *u, *out;
  } cases[] = {
      {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
       "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
       "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
      {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
       "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
       "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
      // Diffie-Hellman: both public keys, then the shared secret.
      {"77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
       "0900000000000000000000000000000000000000000000000000000000000000",
       "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"},
      {"5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb",
       "0900000000000000000000000000000000000000000000000000000000000000",
       "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"},
      {"77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
       "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f",
       "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
  };
  for (const Case& c : cases) {
    Bytes out = X25519(FromHex(c.scalar), FromHex(c.u));
    EXPECT_EQ(ToHex(out.data(), 32), c.out);
  }
}

TEST(Curve25519Test, LadderGivesTheRfc7748IterationsOneAndThousand) {
  Bytes k = FromHex("0900000000000000000000000000000000000000000000000000000000000000");
  Bytes u = k;
  for (int i = 1; i <= 1000; ++i) {
    Bytes next = X25519(k, u);
    u = k;
    k = next;
    if (i == 1) {
      EXPECT_EQ(ToHex(k.data(), 32),
                "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
    }
  }
  EXPECT_EQ(ToHex(k.data(), 32),
            "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

TEST(Curve25519Test, ScalarMultiplyMatchesLibsodiumOnRandomScalarsAndPoints) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 random(4);
  CurvePoint point = BasePoint();
  for (int round = 0; round < 30; ++round) {
    Bytes scalar = RandomBytes(random, 32);
    scalar[0] &= 248;  // libsodium clamps; give it nothing to change
    scalar[31] = (scalar[31] & 127) | 64;
    Bytes theirs(32), u = U(point);
    ASSERT_EQ(crypto_scalarmult(theirs.data(), scalar.data(), u.data()), 0);
    CurvePoint product = Times(scalar, point);
    EXPECT_EQ(U(product), theirs) << "round " << round;
    EXPECT_TRUE(OnCurve(product));
    point = product;  // the next round multiplies a point with a random y parity
  }
}

TEST(Curve25519Test, ScalarMultiplesAddUpWithTheirYCoordinates) {
  std::mt19937_64 random(5);
  for (int round = 0; round < 20; ++round) {
    Bytes a = RandomBytes(random, 32), b = RandomBytes(random, 32), sum(32), twice(32);
    a[31] &= 127;  // below 2^255, so that a + b and 2a fit in 256 bits
    b[31] &= 127;
    unsigned carry = 0, carryTwice = 0;
    for (int i = 0; i < 32; ++i) {
      carry += a[i] + b[i];
      sum[i] = static_cast<std::uint8_t>(carry);
      carry >>= 8;
      carryTwice += 2u * a[i];
      twice[i] = static_cast<std::uint8_t>(carryTwice);
      carryTwice >>= 8;
    }
    CurvePoint pa = Times(a, BasePoint()), pb = Times(b, BasePoint());
    EXPECT_TRUE(PointsEqual(AddPoints(pa, pb), Times(sum, BasePoint()))) << "round " << round;
    EXPECT_TRUE(PointsEqual(DoublePoint(pa), Times(twice, BasePoint()))) << "round " << round;
    EXPECT_TRUE(PointsEqual(AddPoints(pa, NegatePoint(pa)), PointAtInfinity()));
    Bytes next = a;  // a + 1
    for (std::size_t i = 0; i < 32 && ++next[i] == 0; ++i) {
    }
    EXPECT_TRUE(PointsEqual(AddPoints(pa, BasePoint()), Times(next, BasePoint())));
  }
}

TEST(Curve25519Test, MultiplesAroundTheGroupOrderReachInfinity) {
  BigNumber order(kOrderDecimal), one("1");
  BigNumber below, above;
  BN_sub(below.bn, order.bn, one.bn);
  BN_add(above.bn, order.bn, one.bn);
  const CurvePoint& g = BasePoint();
  struct Case {
    Bytes scalar;
    CurvePoint expected;
  } cases[] = {
      {Bytes(32, 0), PointAtInfinity()}, {one.Bytes(), g},   {order.Bytes(), PointAtInfinity()},
      {below.Bytes(), NegatePoint(g)},   {above.Bytes(), g},
  };
  // Every one of the 256 bits counts: 2^256 - 1 acts as its remainder modulo the order.
  BigNumber all, remainder;
  BN_set_bit(all.bn, 256);
  BN_sub(all.bn, all.bn, one.bn);
  BN_CTX* context = BN_CTX_new();
  BN_nnmod(remainder.bn, all.bn, order.bn, context);
  BN_CTX_free(context);
  EXPECT_TRUE(PointsEqual(Times(all.Bytes(), g), Times(remainder.Bytes(), g)));
  for (const Case& c : cases) {
    CurvePoint result = Times(c.scalar, g);
    EXPECT_TRUE(PointsEqual(result, c.expected)) << ToHex(c.scalar.data(), 32);
  }
  Bytes zeroU(32);
  EXPECT_EQ(U(Times(order.Bytes(), g)), zeroU) << "infinity writes u = 0";
}

TEST(Curve25519Test, PointOfOrderTwoIsHandled) {
  Bytes zero(32, 0), three(32, 0), four(32, 0);
  three[0] = 3;
  four[0] = 4;
  CurvePoint t;
  ASSERT_TRUE(PointFromU(zero.data(), &t));
  EXPECT_TRUE(PointsEqual(Times(three, t), t));
  EXPECT_TRUE(Times(four, t).infinity);
  EXPECT_TRUE(AddPoints(t, t).infinity);
  EXPECT_TRUE(PointsEqual(AddPoints(BasePoint(), t), AddPoints(t, BasePoint())));
}

TEST(Curve25519Test, PointFromUTakesEvenYAndRefusesTwistCoordinates) {
  BigNumber p("57896044618658097711785492504343953926634992332820282019728792003956564819949");
  BigNumber half, right, power;
  BN_rshift1(half.bn, p.bn);
  BN_CTX* context = BN_CTX_new();
  for (unsigned small = 1; small < 40; ++small) {
    BN_set_word(right.bn, small * small * small + 486662ul * small * small + small);
    BN_mod_exp(power.bn, right.bn, half.bn, p.bn, context);
    Bytes u(32, 0);
    u[0] = static_cast<std::uint8_t>(small);
    CurvePoint point;
    ASSERT_EQ(PointFromU(u.data(), &point), BN_is_one(power.bn) == 1) << small;
    if (BN_is_one(power.bn)) {
      EXPECT_TRUE(OnCurve(point)) << small;
      EXPECT_FALSE(PointYIsOdd(point)) << small;
      EXPECT_TRUE(PointYIsOdd(NegatePoint(point))) << small;
    }
  }
  BN_CTX_free(context);
}

}  // namespace
