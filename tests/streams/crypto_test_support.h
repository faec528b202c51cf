#pragma once

// Helpers shared by the tests of the signature code: hex text, random bytes, and big-number
// reference arithmetic from libcrypto.

#include <openssl/bn.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/stream_bytes.h"

using Bytes = std::vector<std::uint8_t>;

// The field prime 2^255 - 19 and the group order of the signature curve.
inline const char* kPrimeDecimal =
    "57896044618658097711785492504343953926634992332820282019728792003956564819949";
inline const char* kOrderDecimal =
    "7237005577332262213973186563042994240857116359379907606001950938285454250989";

inline std::string Hex(const Bytes& bytes) {
  return HexBytes(bytes.data(), bytes.size());
}

// Deterministic pseudo-random bytes, so that a failure repeats.
inline Bytes RandomBytes(std::mt19937_64& random, std::size_t size) {
  Bytes bytes(size);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

// A libcrypto big number from / to 32 little-endian bytes, or from decimal text.
struct BigNumber {
  BIGNUM* bn = BN_new();
  BigNumber() = default;
  explicit BigNumber(const std::vector<std::uint8_t>& littleEndian) {
    BN_lebin2bn(littleEndian.data(), static_cast<int>(littleEndian.size()), bn);
  }
  explicit BigNumber(const char* decimal) { BN_dec2bn(&bn, decimal); }
  BigNumber(const BigNumber&) = delete;
  BigNumber& operator=(const BigNumber&) = delete;
  ~BigNumber() { BN_free(bn); }
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out(32);
    BN_bn2lebinpad(bn, out.data(), 32);
    return out;
  }
};

// x + delta as 32 little-endian bytes.
inline Bytes PlusBytes(const BigNumber& x, long delta) {
  BigNumber r;
  BN_copy(r.bn, x.bn);
  delta < 0 ? BN_sub_word(r.bn, static_cast<BN_ULONG>(-delta))
            : BN_add_word(r.bn, static_cast<BN_ULONG>(delta));
  return r.Bytes();
}
