#include "streams/field25519.h"

namespace {

FieldElement SquareTimes(FieldElement a, int times) {
  for (int i = 0; i < times; ++i) {
    a = FieldSquare(a);
  }
  return a;
}

// z^(2^250 - 1), the common stem of the inversion and square-root exponents; also gives z^11.
FieldElement PowTwo250MinusOne(const FieldElement& z, FieldElement* z11) {
  FieldElement z2 = FieldSquare(z);
  FieldElement z9 = FieldMultiply(SquareTimes(z2, 2), z);
  *z11 = FieldMultiply(z9, z2);
  FieldElement e5 = FieldMultiply(FieldSquare(*z11), z9);  // exponent 2^5 - 1
  FieldElement e10 = FieldMultiply(SquareTimes(e5, 5), e5);
  FieldElement e20 = FieldMultiply(SquareTimes(e10, 10), e10);
  FieldElement e40 = FieldMultiply(SquareTimes(e20, 20), e20);
  FieldElement e50 = FieldMultiply(SquareTimes(e40, 10), e10);
  FieldElement e100 = FieldMultiply(SquareTimes(e50, 50), e50);
  FieldElement e200 = FieldMultiply(SquareTimes(e100, 100), e100);
  return FieldMultiply(SquareTimes(e200, 50), e50);
}

// 2^((p-1)/4) = 2^(2^253 - 5): 2 is not a square modulo p, so this squares to -1.
FieldElement SquareRootOfMinusOne() {
  FieldElement unused;
  FieldElement t = SquareTimes(PowTwo250MinusOne(FieldFromInt(2), &unused), 3);
  return FieldMultiply(t, FieldFromInt(8));
}

}  // namespace

FieldElement FieldFromInt(std::uint32_t n) {
  return FieldElement{{n, 0, 0, 0, 0}};
}

FieldElement FieldFromBytes(const std::uint8_t bytes[kFieldBytes]) {
  std::uint64_t w[4];
  for (int i = 0; i < 4; ++i) {
    w[i] = 0;
    for (int j = 7; j >= 0; --j) {
      w[i] = (w[i] << 8) | bytes[8 * i + j];
    }
  }
  FieldElement a{{w[0] & kFieldLimbMask, ((w[0] >> 51) | (w[1] << 13)) & kFieldLimbMask,
                  ((w[1] >> 38) | (w[2] << 26)) & kFieldLimbMask,
                  ((w[2] >> 25) | (w[3] << 39)) & kFieldLimbMask, (w[3] >> 12) & kFieldLimbMask}};
  a.limb[0] += 19 * (w[3] >> 63);
  return a;
}

void FieldToBytes(const FieldElement& a, std::uint8_t bytes[kFieldBytes]) {
  FieldElement t = FieldCarry(a.limb[0], a.limb[1], a.limb[2], a.limb[3], a.limb[4]);
  // t is below 2p now; q = 1 exactly when t >= p, i.e. when t + 19 reaches 2^255.
  std::uint64_t q = (t.limb[0] + 19) >> 51;
  for (int i = 1; i < 5; ++i) {
    q = (t.limb[i] + q) >> 51;
  }
  t.limb[0] += 19 * q;
  for (int i = 0; i < 4; ++i) {
    t.limb[i + 1] += t.limb[i] >> 51;
    t.limb[i] &= kFieldLimbMask;
  }
  t.limb[4] &= kFieldLimbMask;  // drops the 2^255 of t - q*p
  const std::uint64_t* l = t.limb;
  std::uint64_t w[4] = {l[0] | (l[1] << 51), (l[1] >> 13) | (l[2] << 38),
                        (l[2] >> 26) | (l[3] << 25), (l[3] >> 39) | (l[4] << 12)};
  for (int i = 0; i < 32; ++i) {
    bytes[i] = static_cast<std::uint8_t>(w[i / 8] >> (8 * (i % 8)));
  }
}

FieldElement FieldNegate(const FieldElement& a) {
  return FieldSubtract(FieldFromInt(0), a);
}

FieldElement FieldInvert(const FieldElement& a) {
  FieldElement z11;
  FieldElement t = PowTwo250MinusOne(a, &z11);
  return FieldMultiply(SquareTimes(t, 5), z11);  // exponent 2^255 - 21 = p - 2
}

bool FieldSquareRoot(const FieldElement& a, FieldElement* root) {
  // p = 5 (mod 8): a^((p+3)/8) is a root of a or of -a, and a root of -1 turns the latter into
  // one of a. (p+3)/8 = 2^252 - 2.
  static const FieldElement sqrtMinusOne = SquareRootOfMinusOne();
  FieldElement unused;
  FieldElement candidate = FieldMultiply(SquareTimes(PowTwo250MinusOne(a, &unused), 2), a);
  candidate = FieldMultiply(candidate, a);
  FieldElement square = FieldSquare(candidate);
  if (FieldEqual(square, a)) {
    *root = candidate;
    return true;
  }
  if (FieldEqual(square, FieldNegate(a))) {
    *root = FieldMultiply(candidate, sqrtMinusOne);
    return true;
  }
  return false;
}

bool FieldIsZero(const FieldElement& a) {
  std::uint8_t bytes[kFieldBytes];
  FieldToBytes(a, bytes);
  std::uint8_t any = 0;
  for (std::uint8_t b : bytes) {
    any |= b;
  }
  return any == 0;
}

bool FieldIsOdd(const FieldElement& a) {
  std::uint8_t bytes[kFieldBytes];
  FieldToBytes(a, bytes);
  return (bytes[0] & 1) != 0;
}

bool FieldEqual(const FieldElement& a, const FieldElement& b) {
  return FieldIsZero(FieldSubtract(a, b));
}
