#pragma once

#include <cstddef>
#include <cstdint>

#include "streams/signature_check.h"

// The hash of the package signatures: SHA-256 with 72 words of its own in place of the standard
// round constants and initial values.

constexpr int kSignatureHashSize = 32;
// 64 round constants followed by 8 initial state words.
constexpr int kHashWordCount = 72;
// Size of r, the part of a signature compared with the hash of the commitment point.
constexpr int kSignatureRSize = 16;

// The standard SHA-256 words, for tools that need a plain hash and for comparisons.
extern const std::uint32_t sha256Words[kHashWordCount];

// SHA-256 of size bytes at data computed with the given 72 words; writes 32 bytes to out.
void HashWithWords(const std::uint32_t words[kHashWordCount], const std::uint8_t* data,
                   std::size_t size, std::uint8_t out[kSignatureHashSize]);
// HashWithWords with the built-in words of the package key.
void SignatureHash(const std::uint8_t* data, std::size_t size,
                   std::uint8_t out[kSignatureHashSize]);

// The scalar h of a signature check, 32 bytes little-endian: the hash (with words) of the 20-byte
// package digest, the 16 bytes of r XORed into bytes 8..23, then clamped (bits 0-2 and 255
// cleared, bit 254 set). Signer and check derive it alike.
void SignatureChallengeWithWords(const std::uint32_t words[kHashWordCount],
                                 const std::uint8_t digest[kDigestSize],
                                 const std::uint8_t r[kSignatureRSize],
                                 std::uint8_t h[kSignatureHashSize]);
