#pragma once

#include <cstdint>

// Arithmetic modulo p = 2^255 - 19, the field of the package-signature curve.
//
// An element is five 51-bit limbs, value = sum limb[i] * 2^(51 i). Every operation takes and
// returns limbs below 2^52 ("weakly reduced"): the value is right modulo p but may be p or
// slightly above; FieldToBytes gives the unique representative in [0, p).
// No operation branches on the values except FieldSquareRoot, so secret scalars do not show in
// the timing of the curve code.
struct FieldElement {
  std::uint64_t limb[5];
};

constexpr int kFieldBytes = 32;

// The element with the small value n.
FieldElement FieldFromInt(std::uint32_t n);
// Reads 32 bytes as a 256-bit little-endian integer and reduces it modulo p (bit 255 included).
FieldElement FieldFromBytes(const std::uint8_t bytes[kFieldBytes]);
// Writes the fully reduced value in [0, p) as 32 little-endian bytes.
void FieldToBytes(const FieldElement& a, std::uint8_t bytes[kFieldBytes]);

FieldElement FieldAdd(const FieldElement& a, const FieldElement& b);
FieldElement FieldSubtract(const FieldElement& a, const FieldElement& b);
FieldElement FieldNegate(const FieldElement& a);
FieldElement FieldMultiply(const FieldElement& a, const FieldElement& b);
FieldElement FieldSquare(const FieldElement& a);
// a * n for a small factor n (below 2^20).
FieldElement FieldMultiplySmall(const FieldElement& a, std::uint32_t n);
// a^(p-2), the inverse of a; 0 for a = 0.
FieldElement FieldInvert(const FieldElement& a);
// Sets root to a square root of a and returns true when a is a square; false otherwise (root is
// then undefined). Branches on a: for public values only.
bool FieldSquareRoot(const FieldElement& a, FieldElement* root);

// True when a is 0 modulo p.
bool FieldIsZero(const FieldElement& a);
// True when the representative of a in [0, p) is odd.
bool FieldIsOdd(const FieldElement& a);
// True when a and b are equal modulo p.
bool FieldEqual(const FieldElement& a, const FieldElement& b);
// Swaps a and b when swap is 1, leaves them when it is 0, without branching on swap.
void FieldConditionalSwap(FieldElement* a, FieldElement* b, std::uint64_t swap);

// Definitions of the operations that the ladder spends its time in, inline so that a ladder
// step compiles into one straight block.

using FieldWide = unsigned __int128;

constexpr std::uint64_t kFieldLimbMask = (std::uint64_t{1} << 51) - 1;

// Internal to the operations below. Moves each limb's bits above 51 into the next limb; the carry
// out of the top limb is worth 2^255 = 19 modulo p. Limbs up to 2^63 stay exact; afterwards all
// limbs are below 2^52. Written out limb by limb: the compiler keeps them in registers then.
inline FieldElement FieldCarry(std::uint64_t l0, std::uint64_t l1, std::uint64_t l2,
                               std::uint64_t l3, std::uint64_t l4) {
  l1 += l0 >> 51;
  l2 += l1 >> 51;
  l3 += l2 >> 51;
  l4 += l3 >> 51;
  l0 = (l0 & kFieldLimbMask) + 19 * (l4 >> 51);
  l1 = (l1 & kFieldLimbMask) + (l0 >> 51);
  return FieldElement{
      {l0 & kFieldLimbMask, l1, l2 & kFieldLimbMask, l3 & kFieldLimbMask, l4 & kFieldLimbMask}};
}

// The same carry for the 128-bit column sums of a product (below 2^113 each, so that every
// carry fits in 64 bits).
inline FieldElement FieldCarryWide(FieldWide r0, FieldWide r1, FieldWide r2, FieldWide r3,
                                   FieldWide r4) {
  r1 += static_cast<std::uint64_t>(r0 >> 51);
  r2 += static_cast<std::uint64_t>(r1 >> 51);
  r3 += static_cast<std::uint64_t>(r2 >> 51);
  r4 += static_cast<std::uint64_t>(r3 >> 51);
  // r4 >> 51 is below 2^65, so its multiple of 19 needs the wide type.
  FieldWide l0 = (static_cast<std::uint64_t>(r0) & kFieldLimbMask) + (r4 >> 51) * 19;
  std::uint64_t l1 =
      (static_cast<std::uint64_t>(r1) & kFieldLimbMask) + static_cast<std::uint64_t>(l0 >> 51);
  return FieldElement{{static_cast<std::uint64_t>(l0) & kFieldLimbMask, l1,
                       static_cast<std::uint64_t>(r2) & kFieldLimbMask,
                       static_cast<std::uint64_t>(r3) & kFieldLimbMask,
                       static_cast<std::uint64_t>(r4) & kFieldLimbMask}};
}

inline FieldElement FieldAdd(const FieldElement& a, const FieldElement& b) {
  const std::uint64_t *x = a.limb, *y = b.limb;
  return FieldCarry(x[0] + y[0], x[1] + y[1], x[2] + y[2], x[3] + y[3], x[4] + y[4]);
}

inline FieldElement FieldSubtract(const FieldElement& a, const FieldElement& b) {
  // Adding 4p keeps every limb from going below zero for b limbs under 2^53.
  constexpr std::uint64_t fourP0 = (std::uint64_t{1} << 53) - 76;
  constexpr std::uint64_t fourP = (std::uint64_t{1} << 53) - 4;
  const std::uint64_t *x = a.limb, *y = b.limb;
  return FieldCarry(x[0] + fourP0 - y[0], x[1] + fourP - y[1], x[2] + fourP - y[2],
                    x[3] + fourP - y[3], x[4] + fourP - y[4]);
}

inline FieldElement FieldMultiply(const FieldElement& a, const FieldElement& b) {
  const std::uint64_t *x = a.limb, *y = b.limb;
  std::uint64_t y1 = 19 * y[1], y2 = 19 * y[2], y3 = 19 * y[3], y4 = 19 * y[4];
  using W = FieldWide;
  return FieldCarryWide(
      W{x[0]} * y[0] + W{x[1]} * y4 + W{x[2]} * y3 + W{x[3]} * y2 + W{x[4]} * y1,
      W{x[0]} * y[1] + W{x[1]} * y[0] + W{x[2]} * y4 + W{x[3]} * y3 + W{x[4]} * y2,
      W{x[0]} * y[2] + W{x[1]} * y[1] + W{x[2]} * y[0] + W{x[3]} * y4 + W{x[4]} * y3,
      W{x[0]} * y[3] + W{x[1]} * y[2] + W{x[2]} * y[1] + W{x[3]} * y[0] + W{x[4]} * y4,
      W{x[0]} * y[4] + W{x[1]} * y[3] + W{x[2]} * y[2] + W{x[3]} * y[1] + W{x[4]} * y[0]);
}

inline FieldElement FieldSquare(const FieldElement& a) {
  const std::uint64_t* x = a.limb;
  std::uint64_t d0 = 2 * x[0], d1 = 2 * x[1], d2 = 2 * x[2], d3 = 2 * x[3];
  std::uint64_t t3 = 19 * x[3], t4 = 19 * x[4];
  using W = FieldWide;
  return FieldCarryWide(
      W{x[0]} * x[0] + W{d1} * t4 + W{d2} * t3, W{d0} * x[1] + W{d2} * t4 + W{x[3]} * t3,
      W{d0} * x[2] + W{x[1]} * x[1] + W{d3} * t4, W{d0} * x[3] + W{d1} * x[2] + W{x[4]} * t4,
      W{d0} * x[4] + W{d1} * x[3] + W{x[2]} * x[2]);
}

inline FieldElement FieldMultiplySmall(const FieldElement& a, std::uint32_t n) {
  const std::uint64_t* x = a.limb;
  using W = FieldWide;
  return FieldCarryWide(W{x[0]} * n, W{x[1]} * n, W{x[2]} * n, W{x[3]} * n, W{x[4]} * n);
}

inline void FieldConditionalSwap(FieldElement* a, FieldElement* b, std::uint64_t swap) {
  std::uint64_t mask = 0 - swap;
  for (int i = 0; i < 5; ++i) {
    std::uint64_t t = mask & (a->limb[i] ^ b->limb[i]);
    a->limb[i] ^= t;
    b->limb[i] ^= t;
  }
}
