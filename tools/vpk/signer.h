#pragma once

#include <cstddef>
#include <cstdint>

#include "streams/signature_check.h"
#include "streams/signature_hash.h"

// Signing of package digests with the private scalar of the package key. Used only by the
// signing commands of vpk; nothing that checks packages links this.

constexpr int kPrivateKeySize = 32;

// Fills out with size bytes from /dev/urandom. Prints an error and returns false on failure.
bool ReadRandomBytes(std::uint8_t* out, std::size_t size);

// Reads a private key file: one line of 64 hex digits (the scalar, 32 bytes little-endian)
// besides blank lines and # comments. Prints an error and returns false when the file cannot be
// read or holds no scalar in [1, group order).
bool ReadPrivateKey(const char* path, std::uint8_t key[kPrivateKeySize]);

// For the scalar key (below the group order), sets scalar to the one of key and -key whose point
// scalar*G has even y, and publicKey to the u-coordinate of that point.
void EvenPrivateKey(const std::uint8_t key[kPrivateKeySize], std::uint8_t scalar[kPrivateKeySize],
                    std::uint8_t publicKey[kPrivateKeySize]);

// The signature of digest (digest copy, r, v) for the scalar k and the nonce n, both taken as
// they are (below the group order, n not 0), with the hash of the given words:
// R = n*G, r = first 16 bytes of the hash of u(R), v = (n - h) / k.
void SignDigestWith(const std::uint8_t scalar[kPrivateKeySize],
                    const std::uint8_t nonce[kPrivateKeySize],
                    const std::uint32_t words[kHashWordCount],
                    const std::uint8_t digest[kDigestSize], std::uint8_t signature[kSignatureSize]);

// Signs digest with privateKey (made even as EvenPrivateKey does), a fresh nonce and the
// built-in hash words. Prints an error and returns false when no nonce can be read.
bool SignDigest(const std::uint8_t privateKey[kPrivateKeySize],
                const std::uint8_t digest[kDigestSize], std::uint8_t signature[kSignatureSize]);
