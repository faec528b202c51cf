#include "streams/signature_hash.h"

#include <cstring>

#include "streams/key_material.h"

const std::uint32_t sha256Words[kHashWordCount] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
    // initial values
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

namespace {

constexpr int kBlockSize = 64;

std::uint32_t RotateRight(std::uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

void Compress(const std::uint32_t* roundConstants, std::uint32_t state[8],
              const std::uint8_t block[kBlockSize]) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) {
    w[i] = LoadBigEndian(block + 4 * i);
  }
  for (int i = 16; i < 64; ++i) {
    std::uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    std::uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t v[8];
  std::memcpy(v, state, sizeof v);
  for (int i = 0; i < 64; ++i) {
    std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
    std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
    std::uint32_t t1 = v[7] + s1 + choose + roundConstants[i] + w[i];
    std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
    std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    std::memmove(v + 1, v, 7 * sizeof v[0]);
    v[4] += t1;
    v[0] = t1 + s0 + majority;
  }
  for (int i = 0; i < 8; ++i) {
    state[i] += v[i];
  }
}

}  // namespace

void HashWithWords(const std::uint32_t words[kHashWordCount], const std::uint8_t* data,
                   std::size_t size, std::uint8_t out[kSignatureHashSize]) {
  std::uint32_t state[8];
  std::memcpy(state, words + 64, sizeof state);
  std::size_t whole = size - size % kBlockSize;
  for (std::size_t offset = 0; offset < whole; offset += kBlockSize) {
    Compress(words, state, data + offset);
  }
  // The tail, 0x80, zeros and the 64-bit bit count fill one or two last blocks.
  std::uint8_t tail[2 * kBlockSize] = {};
  std::size_t rest = size - whole;
  if (rest > 0) {
    std::memcpy(tail, data + whole, rest);
  }
  tail[rest] = 0x80;
  std::size_t tailSize = rest + 9 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
  std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
  for (int i = 0; i < 8; ++i) {
    tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  for (std::size_t offset = 0; offset < tailSize; offset += kBlockSize) {
    Compress(words, state, tail + offset);
  }
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 4; ++j) {
      out[4 * i + j] = static_cast<std::uint8_t>(state[i] >> (24 - 8 * j));
    }
  }
}

void SignatureHash(const std::uint8_t* data, std::size_t size,
                   std::uint8_t out[kSignatureHashSize]) {
  HashWithWords(signatureHashWords, data, size, out);
}

void SignatureChallengeWithWords(const std::uint32_t words[kHashWordCount],
                                 const std::uint8_t digest[kDigestSize],
                                 const std::uint8_t r[kSignatureRSize],
                                 std::uint8_t h[kSignatureHashSize]) {
  HashWithWords(words, digest, kDigestSize, h);
  for (int i = 0; i < kSignatureRSize; ++i) {
    h[8 + i] ^= r[i];
  }
  h[31] = (h[31] & 0x7F) | 0x40;
  h[0] &= 0xF8;
}
