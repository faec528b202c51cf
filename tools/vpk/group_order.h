#pragma once

#include <cstdint>

// Arithmetic modulo the order of the base point of the signature curve,
// L = 2^252 + 27742317777372353535851937790883648493. Scalars are 32 bytes little-endian; every
// result is fully reduced into [0, L). Nothing branches on the values, so private scalars and
// nonces do not show in the timing.

constexpr int kOrderBytes = 32;

// out = x mod L for a 512-bit little-endian x (64 bytes).
void ModOrderReduceWide(const std::uint8_t x[2 * kOrderBytes], std::uint8_t out[kOrderBytes]);
// out = x mod L for any 256-bit x.
void ModOrderReduce(const std::uint8_t x[kOrderBytes], std::uint8_t out[kOrderBytes]);
// out = a * b mod L for any 256-bit a and b.
void ModOrderMultiply(const std::uint8_t a[kOrderBytes], const std::uint8_t b[kOrderBytes],
                      std::uint8_t out[kOrderBytes]);
// out = a - b mod L for a and b below L.
void ModOrderSubtract(const std::uint8_t a[kOrderBytes], const std::uint8_t b[kOrderBytes],
                      std::uint8_t out[kOrderBytes]);
// out = -a mod L for a below L.
void ModOrderNegate(const std::uint8_t a[kOrderBytes], std::uint8_t out[kOrderBytes]);
// out = a^(L-2) mod L, the inverse of a for a not divisible by L (0 otherwise).
void ModOrderInvert(const std::uint8_t a[kOrderBytes], std::uint8_t out[kOrderBytes]);
// True when a (any 256-bit value) is below L.
bool ModOrderIsReduced(const std::uint8_t a[kOrderBytes]);
// True when all 32 bytes are 0.
bool ModOrderIsZero(const std::uint8_t a[kOrderBytes]);
