#include "streams/curve25519.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include "tests/streams/crypto_test_support.h"

namespace {

// X25519 as its published vectors define it: clamped scalar, u without bit 255.
Bytes X25519(Bytes k, Bytes u) {
  k.resize(32);
  u.resize(32);
  k[0] &= 248;
  k[31] = (k[31] & 127) | 64;
  u[31] &= 127;
  Bytes out(32);
  ScalarMultiplyU(k.data(), u.data(), out.data());
  return out;
}

// A published vector, and the iterated one (k, u = X25519(k, u), k) after 1 and 1000 steps.
TEST(Curve25519Test, LadderGivesThePublishedVectors) {
  struct Case {
    const char *scalar, *u;
    int steps;
    const char* out;
  } cases[] = {
      {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
       "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c", 1,
       "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
      {"09", "09", 1, "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079"},
      {"09", "09", 1000, "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51"},
  };
  for (const Case& c : cases) {
    Bytes k = FromHex(c.scalar), u = FromHex(c.u);
    for (int i = 0; i < c.steps; ++i) {
      Bytes next = X25519(k, u);
      u = k;
      k = next;
    }
    EXPECT_EQ(Hex(k), c.out);
  }
}

// Each round multiplies the previous product, so points of both y parities come up; the sum
// (k + 1)P = kP + P needs the right y as well.
TEST(Curve25519Test, ScalarMultiplyMatchesLibsodium) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 random(4);
  CurvePoint point = BasePoint();
  for (int round = 0; round < 16; ++round) {
    Bytes scalar = RandomBytes(random, 32), u(32), ours(32), theirs(32);
    scalar[0] &= 248;  // libsodium clamps; give it nothing to change
    scalar[31] = (scalar[31] & 127) | 64;
    PointU(point, u.data());
    ASSERT_EQ(crypto_scalarmult(theirs.data(), scalar.data(), u.data()), 0);
    CurvePoint product = ScalarMultiply(scalar.data(), point);
    PointU(product, ours.data());
    EXPECT_EQ(ours, theirs) << "round " << round;
    Bytes next = PlusBytes(BigNumber(scalar), 1);
    EXPECT_TRUE(PointsEqual(AddPoints(product, point), ScalarMultiply(next.data(), point)));
    point = product;
  }
}

// The signature check's sum on the other curve form, against the ladders and the affine sum:
// points of both y parities, the point of order 2 and infinity, scalars at the edges (0, 1, the
// group order, whose multiple of the base point is infinity, and all 256 bits set).
TEST(Curve25519Test, SumOfMultiplesMatchesTheLaddersAndTheAffineSum) {
  std::mt19937_64 random(8);
  CurvePoint zero{FieldFromInt(0), FieldFromInt(0), false}, other;
  std::uint8_t four[kFieldBytes] = {4};
  ASSERT_TRUE(PointFromU(four, &other));  // not in the base point's group
  CurvePoint odd = ScalarMultiply(RandomBytes(random, 32).data(), BasePoint());
  odd = PointYIsOdd(odd) ? odd : CurvePoint{odd.u, FieldNegate(odd.y), false};
  CurvePoint infinity = AddPoints(zero, zero);
  Bytes order = PlusBytes(BigNumber(kOrderDecimal), 0), ones(32, 0xff);
  Bytes one(32, 0);
  one[0] = 1;
  std::vector<Bytes> scalars = {Bytes(32, 0), one, order, ones};
  for (int i = 0; i < 4; ++i) {
    scalars.push_back(RandomBytes(random, 32));
  }
  const CurvePoint* points[] = {&BasePoint(), &other, &odd, &zero, &infinity};
  for (const CurvePoint* p : points) {
    for (const CurvePoint* q : points) {
      PointMultiples pm, qm;
      PrepareMultiples(*p, &pm);
      PrepareMultiples(*q, &qm);
      for (const Bytes& a : scalars) {
        const Bytes& b = scalars[(&a - scalars.data() + 3) % scalars.size()];
        Bytes ours(32), theirs(32);
        SumOfMultiplesU(a.data(), pm, b.data(), qm, ours.data());
        PointU(AddPoints(ScalarMultiply(a.data(), *p), ScalarMultiply(b.data(), *q)),
               theirs.data());
        EXPECT_EQ(Hex(ours), Hex(theirs)) << Hex(a) << " " << Hex(b);
      }
    }
  }
}

}  // namespace
