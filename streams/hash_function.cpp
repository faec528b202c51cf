#include "streams/hash_function.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

void HashFunction::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (count == 0) {
    Init();
  }
  std::size_t used = count % 64;
  count += size;
  if (used > 0) {
    std::size_t take = std::min(64 - used, size);
    std::memcpy(block + used, bytes, take);
    bytes += take;
    size -= take;
    if (used + take < 64) {
      return;
    }
    Transform(block);
  }
  // Whole blocks are hashed where they lie; only a tail is copied.
  if (size >= 64) {
    TransformBlocks(bytes, size / 64);
    bytes += size / 64 * 64;
    size %= 64;
  }
  std::memcpy(block, bytes, size);
}

void HashFunction::TransformBlocks(const std::uint8_t* blocks, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    Transform(blocks + 64 * i);
  }
}

void HashFunction::Final() {
  std::uint64_t bits = count * 8;
  std::uint8_t padding[64 + 8] = {0x80};
  std::size_t used = count % 64;
  std::size_t padSize = used < 56 ? 56 - used : 120 - used;
  for (int i = 0; i < 8; ++i) {
    padding[padSize + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  }
  Update(padding, padSize + 8);
  count = 0;
}

void Sha1Hash::Init() {
  state[0] = 0x67452301;
  state[1] = 0xefcdab89;
  state[2] = 0x98badcfe;
  state[3] = 0x10325476;
  state[4] = 0xc3d2e1f0;
}

namespace {

inline std::uint32_t Rotate(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

}  // namespace

// The 80 rounds are written out in groups of five with the roles of a..e rotated, so that no
// register moves between rounds; the message schedule is kept as a ring of 16 words.
#define SHA1_SCHEDULE(t) \
  (w[(t)&15] = Rotate(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))
#define SHA1_ROUND(a, b, c, d, e, f, k, word) \
  e += Rotate(a, 5) + (f) + (k) + (word);     \
  b = Rotate(b, 30)
#define SHA1_CHOOSE(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJORITY(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))

#define SHA1_FIVE(t, F, k, W)                           \
  SHA1_ROUND(a, b, c, d, e, F(b, c, d), k, W(t));       \
  SHA1_ROUND(e, a, b, c, d, F(a, b, c), k, W((t) + 1)); \
  SHA1_ROUND(d, e, a, b, c, F(e, a, b), k, W((t) + 2)); \
  SHA1_ROUND(c, d, e, a, b, F(d, e, a), k, W((t) + 3)); \
  SHA1_ROUND(b, c, d, e, a, F(c, d, e), k, W((t) + 4))

#define SHA1_LOADED(t) w[(t)]

namespace {

void Sha1PortableBlocks(std::uint32_t state[5], const std::uint8_t* data, std::size_t count) {
  for (; count > 0; --count, data += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
      w[i] = LoadBigEndian(data + 4 * i);
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    SHA1_FIVE(0, SHA1_CHOOSE, 0x5a827999, SHA1_LOADED);
    SHA1_FIVE(5, SHA1_CHOOSE, 0x5a827999, SHA1_LOADED);
    SHA1_FIVE(10, SHA1_CHOOSE, 0x5a827999, SHA1_LOADED);
    SHA1_ROUND(a, b, c, d, e, SHA1_CHOOSE(b, c, d), 0x5a827999, w[15]);
    SHA1_ROUND(e, a, b, c, d, SHA1_CHOOSE(a, b, c), 0x5a827999, SHA1_SCHEDULE(16));
    SHA1_ROUND(d, e, a, b, c, SHA1_CHOOSE(e, a, b), 0x5a827999, SHA1_SCHEDULE(17));
    SHA1_ROUND(c, d, e, a, b, SHA1_CHOOSE(d, e, a), 0x5a827999, SHA1_SCHEDULE(18));
    SHA1_ROUND(b, c, d, e, a, SHA1_CHOOSE(c, d, e), 0x5a827999, SHA1_SCHEDULE(19));
    SHA1_FIVE(20, SHA1_PARITY, 0x6ed9eba1, SHA1_SCHEDULE);
    SHA1_FIVE(25, SHA1_PARITY, 0x6ed9eba1, SHA1_SCHEDULE);
    SHA1_FIVE(30, SHA1_PARITY, 0x6ed9eba1, SHA1_SCHEDULE);
    SHA1_FIVE(35, SHA1_PARITY, 0x6ed9eba1, SHA1_SCHEDULE);
    SHA1_FIVE(40, SHA1_MAJORITY, 0x8f1bbcdc, SHA1_SCHEDULE);
    SHA1_FIVE(45, SHA1_MAJORITY, 0x8f1bbcdc, SHA1_SCHEDULE);
    SHA1_FIVE(50, SHA1_MAJORITY, 0x8f1bbcdc, SHA1_SCHEDULE);
    SHA1_FIVE(55, SHA1_MAJORITY, 0x8f1bbcdc, SHA1_SCHEDULE);
    SHA1_FIVE(60, SHA1_PARITY, 0xca62c1d6, SHA1_SCHEDULE);
    SHA1_FIVE(65, SHA1_PARITY, 0xca62c1d6, SHA1_SCHEDULE);
    SHA1_FIVE(70, SHA1_PARITY, 0xca62c1d6, SHA1_SCHEDULE);
    SHA1_FIVE(75, SHA1_PARITY, 0xca62c1d6, SHA1_SCHEDULE);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

#if defined(__x86_64__)

// The SHA extensions do four rounds per instruction; the state stays in two registers across all
// blocks of one call.
__attribute__((target("sha,sse4.1"))) void Sha1ProcessorBlocks(std::uint32_t state[5],
                                                               const std::uint8_t* data,
                                                               std::size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count > 0; --count, data += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e0;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              byteSwap);
    }
    __m128i e1;
    // Rounds 0-3 take e from the saved state; every later group of four derives it from a.
    e0 = _mm_add_epi32(e0, m[0]);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
#pragma GCC unroll 20
    for (int group = 1; group < 20; ++group) {
      __m128i& word = m[group % 4];
      if (group >= 4) {
        // Message schedule: w[t] from w[t-3], w[t-8], w[t-14], w[t-16], four at a time.
        word = _mm_sha1msg2_epu32(
            _mm_xor_si128(_mm_sha1msg1_epu32(m[group % 4], m[(group + 1) % 4]), m[(group + 2) % 4]),
            m[(group + 3) % 4]);
      }
      __m128i next = _mm_sha1nexte_epu32(e1, word);
      e1 = abcd;
      switch (group / 5) {
        case 0:
          abcd = _mm_sha1rnds4_epu32(abcd, next, 0);
          break;
        case 1:
          abcd = _mm_sha1rnds4_epu32(abcd, next, 1);
          break;
        case 2:
          abcd = _mm_sha1rnds4_epu32(abcd, next, 2);
          break;
        default:
          abcd = _mm_sha1rnds4_epu32(abcd, next, 3);
          break;
      }
    }
    e0 = _mm_sha1nexte_epu32(e1, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

bool ProcessorHasSha() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3)) {
    return false;
  }
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}

#else

bool ProcessorHasSha() {
  return false;
}

void Sha1ProcessorBlocks(std::uint32_t state[5], const std::uint8_t* data, std::size_t count) {
  Sha1PortableBlocks(state, data, count);
}

#endif

using Sha1Blocks = void (*)(std::uint32_t state[5], const std::uint8_t* data, std::size_t count);

Sha1Blocks sha1Blocks = ProcessorHasSha() ? Sha1ProcessorBlocks : Sha1PortableBlocks;

}  // namespace

bool SelectSha1Engine(Sha1Engine engine) {
  if (engine == Sha1Engine::kProcessor && !ProcessorHasSha()) {
    return false;
  }
  sha1Blocks = engine == Sha1Engine::kProcessor ? Sha1ProcessorBlocks : Sha1PortableBlocks;
  return true;
}

void Sha1Hash::Transform(const std::uint8_t* data) {
  sha1Blocks(state, data, 1);
}

void Sha1Hash::TransformBlocks(const std::uint8_t* blocks, std::size_t count) {
  sha1Blocks(state, blocks, count);
}

void Sha1Hash::Digest(std::uint8_t* out) {
  Final();
  for (int i = 0; i < 5; ++i) {
    out[4 * i] = static_cast<std::uint8_t>(state[i] >> 24);
    out[4 * i + 1] = static_cast<std::uint8_t>(state[i] >> 16);
    out[4 * i + 2] = static_cast<std::uint8_t>(state[i] >> 8);
    out[4 * i + 3] = static_cast<std::uint8_t>(state[i]);
  }
}
