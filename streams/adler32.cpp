#include "streams/adler32.h"

#include <zlib.h>

#include <algorithm>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

constexpr std::uint32_t kBase = 65521;
// The most bytes after which s2 still fits in 32 bits before it is reduced, as zlib's NMAX,
// rounded down to whole 32-byte steps.
constexpr std::size_t kBlock = 5552 / 32 * 32;

#if defined(__x86_64__)

// 32 bytes a step: s1 gains their sum, s2 their sum weighted 32 down to 1, plus 32 times s1 as
// it was before the step (collected in previous and multiplied at the end of the block).
__attribute__((target("ssse3"))) std::uint32_t VectorAdler32(std::uint32_t adler,
                                                             const std::uint8_t* data,
                                                             std::size_t size) {
  std::uint32_t s1 = adler & 0xffff, s2 = adler >> 16;
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i weightsHigh =
      _mm_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17);
  const __m128i weightsLow = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  while (size >= 32) {
    std::size_t steps = std::min(size, kBlock) / 32;
    size -= steps * 32;
    __m128i sum = zero, weighted = zero, previous = zero;
    std::uint32_t blockS1 = s1;
    for (std::size_t i = 0; i < steps; ++i, data += 32) {
      __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
      __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16));
      previous = _mm_add_epi32(previous, sum);
      sum =
          _mm_add_epi32(sum, _mm_add_epi32(_mm_sad_epu8(first, zero), _mm_sad_epu8(second, zero)));
      weighted =
          _mm_add_epi32(weighted, _mm_madd_epi16(_mm_maddubs_epi16(first, weightsHigh), ones));
      weighted =
          _mm_add_epi32(weighted, _mm_madd_epi16(_mm_maddubs_epi16(second, weightsLow), ones));
    }
    weighted = _mm_add_epi32(weighted, _mm_slli_epi32(previous, 5));
    alignas(16) std::uint32_t sums[4], weights[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), sum);
    _mm_store_si128(reinterpret_cast<__m128i*>(weights), weighted);
    std::uint64_t newS2 = s2 + std::uint64_t{blockS1} * steps * 32 + weights[0] + weights[1] +
                          weights[2] + weights[3];
    s1 = static_cast<std::uint32_t>((blockS1 + std::uint64_t{sums[0]} + sums[2]) % kBase);
    s2 = static_cast<std::uint32_t>(newS2 % kBase);
  }
  return static_cast<std::uint32_t>(adler32_z((s2 << 16) | s1, data, size));
}

bool ProcessorHasSsse3() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3);
}

const bool vectors = ProcessorHasSsse3();

#endif

}  // namespace

std::uint32_t Adler32(std::uint32_t adler, const std::uint8_t* data, std::size_t size) {
#if defined(__x86_64__)
  if (vectors) {
    return VectorAdler32(adler, data, size);
  }
#endif
  return static_cast<std::uint32_t>(adler32_z(adler, data, size));
}
