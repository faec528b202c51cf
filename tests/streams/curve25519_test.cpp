#include "streams/curve25519.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include "tests/streams/crypto_test_support.h"

namespace {

// Each round multiplies the previous product, so points of both y parities come up; the sum
// (k + 1)P = kP + P needs the right y as well. The ladder on u alone must agree too.
TEST(Curve25519Test, ScalarMultiplyMatchesLibsodium) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 random(4);
  CurvePoint point = BasePoint();
  for (int round = 0; round < 16; ++round) {
    Bytes scalar = RandomBytes(random, 32), u(32), ours(32), theirs(32), ladder(32);
    scalar[0] &= 248;  // libsodium clamps; give it nothing to change
    scalar[31] = (scalar[31] & 127) | 64;
    PointU(point, u.data());
    ASSERT_EQ(crypto_scalarmult(theirs.data(), scalar.data(), u.data()), 0);
    CurvePoint product = ScalarMultiply(scalar.data(), point);
    PointU(product, ours.data());
    EXPECT_EQ(ours, theirs) << "round " << round;
    ScalarMultiplyU(scalar.data(), u.data(), ladder.data());
    EXPECT_EQ(ladder, theirs) << "round " << round;
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
