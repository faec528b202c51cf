#pragma once

#include <cstdint>

#include "streams/field25519.h"

// Points of the Montgomery curve y^2 = u^3 + 486662 u^2 + u over the field of p = 2^255 - 19,
// with both coordinates, as the package signatures need them.

// A point in affine coordinates, or the point at infinity (the neutral element), whose u counts
// as 0 wherever a u-coordinate is written out.
struct CurvePoint {
  FieldElement u;
  FieldElement y;
  bool infinity;
};

constexpr int kScalarBytes = 32;

// Sets point to the curve point with the u-coordinate u (32 bytes little-endian, reduced modulo
// p) whose y in [0, p) is even. False when u belongs to no curve point.
bool PointFromU(const std::uint8_t u[kFieldBytes], CurvePoint* point);
// The base point: u = 9 with the even y.
const CurvePoint& BasePoint();
// Writes the u-coordinate of point, fully reduced, as 32 little-endian bytes; 0 for infinity.
void PointU(const CurvePoint& point, std::uint8_t u[kFieldBytes]);
// True when point is finite and its y in [0, p) is odd.
bool PointYIsOdd(const CurvePoint& point);
// True when a and b are the same point.
bool PointsEqual(const CurvePoint& a, const CurvePoint& b);

// a + b on the curve.
CurvePoint AddPoints(const CurvePoint& a, const CurvePoint& b);

// scalar * point for a 256-bit little-endian scalar whose every bit counts (no clamping). Runs
// in time independent of the scalar for points other than infinity and (0, 0).
CurvePoint ScalarMultiply(const std::uint8_t scalar[kScalarBytes], const CurvePoint& point);
// The u-coordinate of scalar * Q from the u-coordinate of Q alone (any u, also one of the twist),
// fully reduced; 0 when the result is infinity. The scalar is used as is, every bit counts.
void ScalarMultiplyU(const std::uint8_t scalar[kScalarBytes], const std::uint8_t u[kFieldBytes],
                     std::uint8_t out[kFieldBytes]);

// The multiples 0 to 15 of one point, prepared for SumOfMultiplesU.
struct PointMultiples {
  // Each multiple on the equivalent twisted Edwards curve, as y + x, y - x, 2z and 2d t of
  // extended coordinates.
  FieldElement entry[16][4];
};

// Prepares the multiples of point (any point, also infinity or (0, 0)).
void PrepareMultiples(const CurvePoint& point, PointMultiples* multiples);

// The u-coordinate of a * P + b * Q, fully reduced; 0 when the sum is infinity. Scalars are
// 256-bit little-endian, every bit counts. Time depends on the scalars: for public ones only,
// as those of a signature check.
void SumOfMultiplesU(const std::uint8_t a[kScalarBytes], const PointMultiples& p,
                     const std::uint8_t b[kScalarBytes], const PointMultiples& q,
                     std::uint8_t u[kFieldBytes]);
