#pragma once

// Helpers shared by the tests of the signature code: hex text, random bytes, and big-number
// reference arithmetic from libcrypto.

#include <openssl/bn.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

inline std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

inline std::string ToHex(const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// Deterministic pseudo-random bytes, so that a failure repeats.
inline std::vector<std::uint8_t> RandomBytes(std::mt19937_64& random, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

// A libcrypto big number from / to little-endian bytes.
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
  std::vector<std::uint8_t> Bytes(int size = 32) const {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    BN_bn2lebinpad(bn, out.data(), size);
    return out;
  }
};
