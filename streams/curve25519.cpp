#include "streams/curve25519.h"

namespace {

constexpr std::uint32_t kCurveA = 486662;
constexpr std::uint32_t kLadderA24 = (kCurveA - 2) / 4;

// The two projective u-coordinates the ladder ends with: kQ and (k+1)Q.
struct LadderResult {
  FieldElement x2, z2, x3, z3;
};

// Montgomery ladder over all 256 bits of the scalar, with conditional swaps instead of branches.
// Exact for every difference u except 0, since it only adds points whose difference is Q.
LadderResult Ladder(const std::uint8_t scalar[kScalarBytes], const FieldElement& u) {
  LadderResult r{FieldFromInt(1), FieldFromInt(0), u, FieldFromInt(1)};
  std::uint64_t swap = 0;
  for (int t = 255; t >= 0; --t) {
    std::uint64_t bit = (scalar[t / 8] >> (t % 8)) & 1;
    swap ^= bit;
    FieldConditionalSwap(&r.x2, &r.x3, swap);
    FieldConditionalSwap(&r.z2, &r.z3, swap);
    swap = bit;
    FieldElement a = FieldAdd(r.x2, r.z2);
    FieldElement aa = FieldSquare(a);
    FieldElement b = FieldSubtract(r.x2, r.z2);
    FieldElement bb = FieldSquare(b);
    FieldElement e = FieldSubtract(aa, bb);
    FieldElement da = FieldMultiply(FieldSubtract(r.x3, r.z3), a);
    FieldElement cb = FieldMultiply(FieldAdd(r.x3, r.z3), b);
    r.x3 = FieldSquare(FieldAdd(da, cb));
    r.z3 = FieldMultiply(u, FieldSquare(FieldSubtract(da, cb)));
    r.x2 = FieldMultiply(aa, bb);
    r.z2 = FieldMultiply(e, FieldAdd(aa, FieldMultiplySmall(e, kLadderA24)));
  }
  FieldConditionalSwap(&r.x2, &r.x3, swap);
  FieldConditionalSwap(&r.z2, &r.z3, swap);
  return r;
}

// u^3 + A u^2 + u, the square of y on the curve.
FieldElement CurveRightSide(const FieldElement& u) {
  FieldElement t = FieldAdd(FieldMultiply(u, FieldAdd(u, FieldFromInt(kCurveA))), FieldFromInt(1));
  return FieldMultiply(u, t);
}

// Q = kP from the ladder's kP = (x2:z2) and (k+1)P = (x3:z3), both finite. With xq = x2/z2 and
// xr = x3/z3, yq = ((xq xP + 1)(xq + xP + 2A) - 2A - (xq - xP)^2 xr) / (2 yP); the fractions are
// kept over one common denominator so that a single inversion gives both coordinates.
CurvePoint RecoverY(const CurvePoint& p, const LadderResult& r) {
  FieldElement twoA = FieldFromInt(2 * kCurveA);
  FieldElement t1 = FieldAdd(FieldMultiply(r.x2, p.u), r.z2);
  FieldElement t2 = FieldAdd(FieldAdd(r.x2, FieldMultiply(p.u, r.z2)), FieldMultiply(twoA, r.z2));
  FieldElement z2z2 = FieldSquare(r.z2);
  FieldElement numerator = FieldSubtract(
      FieldMultiply(r.z3, FieldSubtract(FieldMultiply(t1, t2), FieldMultiply(twoA, z2z2))),
      FieldMultiply(FieldSquare(FieldSubtract(r.x2, FieldMultiply(p.u, r.z2))), r.x3));
  FieldElement scale = FieldMultiply(FieldAdd(p.y, p.y), FieldMultiply(r.z2, r.z3));
  FieldElement inverse = FieldInvert(FieldMultiply(scale, r.z2));
  return CurvePoint{FieldMultiply(FieldMultiply(r.x2, scale), inverse),
                    FieldMultiply(numerator, inverse), false};
}

// Adds two finite points with different u-coordinates, or doubles one (slope given).
CurvePoint PointFromSlope(const FieldElement& slope, const CurvePoint& a, const FieldElement& bu) {
  FieldElement u =
      FieldSubtract(FieldSubtract(FieldSquare(slope), FieldFromInt(kCurveA)), FieldAdd(a.u, bu));
  FieldElement y = FieldSubtract(FieldMultiply(slope, FieldSubtract(a.u, u)), a.y);
  return CurvePoint{u, y, false};
}

// The neutral element.
CurvePoint PointAtInfinity() {
  return CurvePoint{FieldFromInt(0), FieldFromInt(1), true};
}

// The point mirrored across the u-axis.
CurvePoint NegatePoint(const CurvePoint& point) {
  return CurvePoint{point.u, FieldNegate(point.y), point.infinity};
}

// point + point.
CurvePoint DoublePoint(const CurvePoint& point) {
  if (point.infinity || FieldIsZero(point.y)) {
    return PointAtInfinity();
  }
  const FieldElement& u = point.u;
  FieldElement top = FieldAdd(FieldMultiplySmall(FieldSquare(u), 3),
                              FieldAdd(FieldMultiplySmall(u, 2 * kCurveA), FieldFromInt(1)));
  FieldElement slope = FieldMultiply(top, FieldInvert(FieldAdd(point.y, point.y)));
  return PointFromSlope(slope, point, u);
}

}  // namespace

bool PointFromU(const std::uint8_t u[kFieldBytes], CurvePoint* point) {
  FieldElement x = FieldFromBytes(u);
  FieldElement y;
  if (!FieldSquareRoot(CurveRightSide(x), &y)) {
    return false;
  }
  if (FieldIsOdd(y)) {
    y = FieldNegate(y);
  }
  *point = CurvePoint{x, y, false};
  return true;
}

const CurvePoint& BasePoint() {
  static const CurvePoint base = [] {
    std::uint8_t nine[kFieldBytes] = {9};
    CurvePoint point = PointAtInfinity();
    PointFromU(nine, &point);  // 9 is on the curve, so this cannot fail
    return point;
  }();
  return base;
}

void PointU(const CurvePoint& point, std::uint8_t u[kFieldBytes]) {
  FieldToBytes(point.infinity ? FieldFromInt(0) : point.u, u);
}

bool PointYIsOdd(const CurvePoint& point) {
  return !point.infinity && FieldIsOdd(point.y);
}

bool PointsEqual(const CurvePoint& a, const CurvePoint& b) {
  if (a.infinity || b.infinity) {
    return a.infinity == b.infinity;
  }
  return FieldEqual(a.u, b.u) && FieldEqual(a.y, b.y);
}

CurvePoint AddPoints(const CurvePoint& a, const CurvePoint& b) {
  if (a.infinity) {
    return b;
  }
  if (b.infinity) {
    return a;
  }
  if (FieldEqual(a.u, b.u)) {
    return FieldEqual(a.y, b.y) ? DoublePoint(a) : PointAtInfinity();
  }
  FieldElement slope = FieldMultiply(FieldSubtract(b.y, a.y), FieldInvert(FieldSubtract(b.u, a.u)));
  return PointFromSlope(slope, a, b.u);
}

CurvePoint ScalarMultiply(const std::uint8_t scalar[kScalarBytes], const CurvePoint& point) {
  if (point.infinity) {
    return point;
  }
  if (FieldIsZero(point.y)) {  // (0, 0) has order 2; the ladder cannot use u = 0
    return (scalar[0] & 1) != 0 ? point : PointAtInfinity();
  }
  LadderResult r = Ladder(scalar, point.u);
  // Zero denominators mean kP or (k+1)P is infinity; never the case for a signer's scalars in
  // [1, order), so these branches tell nothing about them.
  if (FieldIsZero(r.z2)) {
    return PointAtInfinity();
  }
  if (FieldIsZero(r.z3)) {
    return NegatePoint(point);
  }
  return RecoverY(point, r);
}

void ScalarMultiplyU(const std::uint8_t scalar[kScalarBytes], const std::uint8_t u[kFieldBytes],
                     std::uint8_t out[kFieldBytes]) {
  LadderResult r = Ladder(scalar, FieldFromBytes(u));
  FieldToBytes(FieldMultiply(r.x2, FieldInvert(r.z2)), out);
}

// Sums of multiples are taken on the twisted Edwards curve -x^2 + y^2 = 1 + d x^2 y^2 that the
// map x = c u / v, y = (u - 1) / (u + 1) with c^2 = -(A + 2) makes of this one: its addition is
// complete (no exceptional points) and cheaper than the ladder, and u = (1 + y) / (1 - y)
// comes back without the other coordinate. Either root c gives the same u.
namespace {

// Extended coordinates: x = X/Z, y = Y/Z, x y = T/Z.
struct EdwardsPoint {
  FieldElement x, y, z, t;
};

enum { kYPlusX, kYMinusX, kTwoZ, kTwoDT };

// 2d, d = -121665 / 121666.
const FieldElement& TwoD() {
  static const FieldElement twoD = [] {
    FieldElement d =
        FieldMultiply(FieldNegate(FieldFromInt(121665)), FieldInvert(FieldFromInt(121666)));
    return FieldAdd(d, d);
  }();
  return twoD;
}

EdwardsPoint EdwardsFromCurve(const CurvePoint& point) {
  static const FieldElement c = [] {
    FieldElement root = FieldFromInt(0);
    FieldSquareRoot(FieldNegate(FieldFromInt(kCurveA + 2)), &root);  // -486664 is a square
    return root;
  }();
  if (point.infinity) {
    return EdwardsPoint{FieldFromInt(0), FieldFromInt(1), FieldFromInt(1), FieldFromInt(0)};
  }
  // (0, 0) gives x = 0 (the inverse of 0 is 0) and y = -1, the point of order 2 here too.
  FieldElement x = FieldMultiply(FieldMultiply(c, point.u), FieldInvert(point.y));
  FieldElement one = FieldFromInt(1);
  FieldElement y = FieldMultiply(FieldSubtract(point.u, one), FieldInvert(FieldAdd(point.u, one)));
  return EdwardsPoint{x, y, one, FieldMultiply(x, y)};
}

// p + q with q prepared (add-2008-hwcd-3 for a = -1).
EdwardsPoint AddPrepared(const EdwardsPoint& p, const FieldElement q[4]) {
  FieldElement a = FieldMultiply(FieldSubtract(p.y, p.x), q[kYMinusX]);
  FieldElement b = FieldMultiply(FieldAdd(p.y, p.x), q[kYPlusX]);
  FieldElement c = FieldMultiply(p.t, q[kTwoDT]);
  FieldElement d = FieldMultiply(p.z, q[kTwoZ]);
  FieldElement e = FieldSubtract(b, a), f = FieldSubtract(d, c), g = FieldAdd(d, c),
               h = FieldAdd(b, a);
  return EdwardsPoint{FieldMultiply(e, f), FieldMultiply(g, h), FieldMultiply(f, g),
                      FieldMultiply(e, h)};
}

// p + p (dbl-2008-hwcd for a = -1).
EdwardsPoint DoubleEdwards(const EdwardsPoint& p) {
  FieldElement a = FieldSquare(p.x), b = FieldSquare(p.y), zz = FieldSquare(p.z);
  FieldElement c = FieldAdd(zz, zz);
  FieldElement e = FieldSubtract(FieldSubtract(FieldSquare(FieldAdd(p.x, p.y)), a), b);
  FieldElement g = FieldSubtract(b, a);
  FieldElement f = FieldSubtract(g, c);
  FieldElement h = FieldNegate(FieldAdd(a, b));
  return EdwardsPoint{FieldMultiply(e, f), FieldMultiply(g, h), FieldMultiply(f, g),
                      FieldMultiply(e, h)};
}

void Prepare(const EdwardsPoint& p, FieldElement out[4]) {
  out[kYPlusX] = FieldAdd(p.y, p.x);
  out[kYMinusX] = FieldSubtract(p.y, p.x);
  out[kTwoZ] = FieldAdd(p.z, p.z);
  out[kTwoDT] = FieldMultiply(p.t, TwoD());
}

int Nibble(const std::uint8_t scalar[kScalarBytes], int index) {
  return (scalar[index / 2] >> (4 * (index % 2))) & 15;
}

}  // namespace

void PrepareMultiples(const CurvePoint& point, PointMultiples* multiples) {
  EdwardsPoint base = EdwardsFromCurve(point);
  EdwardsPoint sum = EdwardsFromCurve(PointAtInfinity());
  Prepare(sum, multiples->entry[0]);
  Prepare(base, multiples->entry[1]);
  for (int k = 2; k < 16; ++k) {
    sum = AddPrepared(k == 2 ? base : sum, multiples->entry[1]);
    Prepare(sum, multiples->entry[k]);
  }
}

void SumOfMultiplesU(const std::uint8_t a[kScalarBytes], const PointMultiples& p,
                     const std::uint8_t b[kScalarBytes], const PointMultiples& q,
                     std::uint8_t u[kFieldBytes]) {
  // Four bits of both scalars at a time, from the top: one chain of doublings serves both.
  EdwardsPoint sum = EdwardsFromCurve(PointAtInfinity());
  for (int index = 2 * kScalarBytes - 1; index >= 0; --index) {
    for (int i = 0; i < 4 && index < 2 * kScalarBytes - 1; ++i) {
      sum = DoubleEdwards(sum);
    }
    if (int n = Nibble(a, index); n != 0) {
      sum = AddPrepared(sum, p.entry[n]);
    }
    if (int n = Nibble(b, index); n != 0) {
      sum = AddPrepared(sum, q.entry[n]);
    }
  }
  // u = (z + y) / (z - y); infinity has z = y, and the inverse of 0 is 0.
  FieldToBytes(FieldMultiply(FieldAdd(sum.z, sum.y), FieldInvert(FieldSubtract(sum.z, sum.y))), u);
}
