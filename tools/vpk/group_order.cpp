#include "tools/vpk/group_order.h"

namespace {

using Limbs = std::uint64_t[4];

// L in 64-bit limbs, least significant first.
constexpr std::uint64_t kOrder[4] = {0x5812631a5cf5d3edULL, 0x14def9dea2f79cd6ULL, 0,
                                     0x1000000000000000ULL};

void Load(const std::uint8_t* bytes, int words, std::uint64_t* limbs) {
  for (int i = 0; i < words; ++i) {
    limbs[i] = 0;
    for (int j = 7; j >= 0; --j) {
      limbs[i] = (limbs[i] << 8) | bytes[8 * i + j];
    }
  }
}

void Store(const Limbs limbs, std::uint8_t out[kOrderBytes]) {
  for (int i = 0; i < kOrderBytes; ++i) {
    out[i] = static_cast<std::uint8_t>(limbs[i / 8] >> (8 * (i % 8)));
  }
}

// d = a - b over 256 bits; returns the borrow out (1 when a < b).
std::uint64_t SubtractLimbs(const Limbs a, const Limbs b, Limbs d) {
  std::uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned __int128 t = static_cast<unsigned __int128>(a[i]) - b[i] - borrow;
    d[i] = static_cast<std::uint64_t>(t);
    borrow = static_cast<std::uint64_t>(t >> 64) & 1;
  }
  return borrow;
}

// r = (mask ? a : b) with mask all ones or all zeros.
void Select(std::uint64_t mask, const Limbs a, const Limbs b, Limbs r) {
  for (int i = 0; i < 4; ++i) {
    r[i] = (a[i] & mask) | (b[i] & ~mask);
  }
}

// r = r - L when r >= L; for r below 2L.
void SubtractOrderOnce(Limbs r) {
  Limbs d;
  std::uint64_t borrow = SubtractLimbs(r, kOrder, d);
  Select(0 - borrow, r, d, r);
}

// r = x mod L for x of the given number of 64-bit words, one bit at a time from the top:
// r < L before each step keeps 2r + 1 below 2L and below 2^254.
void ReduceLimbs(const std::uint64_t* x, int words, Limbs r) {
  r[0] = r[1] = r[2] = r[3] = 0;
  for (int bit = 64 * words - 1; bit >= 0; --bit) {
    for (int i = 3; i > 0; --i) {
      r[i] = (r[i] << 1) | (r[i - 1] >> 63);
    }
    r[0] = (r[0] << 1) | ((x[bit / 64] >> (bit % 64)) & 1);
    SubtractOrderOnce(r);
  }
}

void MultiplyLimbs(const Limbs a, const Limbs b, Limbs r) {
  std::uint64_t product[8] = {};
  for (int i = 0; i < 4; ++i) {
    std::uint64_t carry = 0;
    for (int j = 0; j < 4; ++j) {
      unsigned __int128 t = static_cast<unsigned __int128>(a[i]) * b[j] + product[i + j] + carry;
      product[i + j] = static_cast<std::uint64_t>(t);
      carry = static_cast<std::uint64_t>(t >> 64);
    }
    product[i + 4] = carry;
  }
  ReduceLimbs(product, 8, r);
}

}  // namespace

void ModOrderReduceWide(const std::uint8_t x[2 * kOrderBytes], std::uint8_t out[kOrderBytes]) {
  std::uint64_t wide[8];
  Load(x, 8, wide);
  Limbs r;
  ReduceLimbs(wide, 8, r);
  Store(r, out);
}

void ModOrderReduce(const std::uint8_t x[kOrderBytes], std::uint8_t out[kOrderBytes]) {
  Limbs a, r;
  Load(x, 4, a);
  ReduceLimbs(a, 4, r);
  Store(r, out);
}

void ModOrderMultiply(const std::uint8_t a[kOrderBytes], const std::uint8_t b[kOrderBytes],
                      std::uint8_t out[kOrderBytes]) {
  Limbs x, y, r;
  Load(a, 4, x);
  Load(b, 4, y);
  MultiplyLimbs(x, y, r);
  Store(r, out);
}

void ModOrderSubtract(const std::uint8_t a[kOrderBytes], const std::uint8_t b[kOrderBytes],
                      std::uint8_t out[kOrderBytes]) {
  Limbs x, y, d, corrected;
  Load(a, 4, x);
  Load(b, 4, y);
  std::uint64_t borrow = SubtractLimbs(x, y, d);
  // d + L wraps around 2^256 back into [0, L) exactly when the subtraction borrowed.
  std::uint64_t carry = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned __int128 t = static_cast<unsigned __int128>(d[i]) + kOrder[i] + carry;
    corrected[i] = static_cast<std::uint64_t>(t);
    carry = static_cast<std::uint64_t>(t >> 64);
  }
  Select(0 - borrow, corrected, d, d);
  Store(d, out);
}

void ModOrderNegate(const std::uint8_t a[kOrderBytes], std::uint8_t out[kOrderBytes]) {
  const std::uint8_t zero[kOrderBytes] = {};
  ModOrderSubtract(zero, a, out);
}

void ModOrderInvert(const std::uint8_t a[kOrderBytes], std::uint8_t out[kOrderBytes]) {
  // The exponent L - 2 is public, so square-and-multiply may branch on its bits.
  Limbs exponent, two = {2, 0, 0, 0};
  SubtractLimbs(kOrder, two, exponent);
  Limbs raw, base, result = {1, 0, 0, 0};
  Load(a, 4, raw);
  ReduceLimbs(raw, 4, base);
  for (int bit = 252; bit >= 0; --bit) {
    MultiplyLimbs(result, result, result);
    if ((exponent[bit / 64] >> (bit % 64)) & 1) {
      MultiplyLimbs(result, base, result);
    }
  }
  Store(result, out);
}

bool ModOrderIsReduced(const std::uint8_t a[kOrderBytes]) {
  Limbs x, d;
  Load(a, 4, x);
  return SubtractLimbs(x, kOrder, d) == 1;
}

bool ModOrderIsZero(const std::uint8_t a[kOrderBytes]) {
  std::uint8_t any = 0;
  for (int i = 0; i < kOrderBytes; ++i) {
    any |= a[i];
  }
  return any == 0;
}
