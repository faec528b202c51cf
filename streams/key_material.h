#pragma once

#include <cstdint>

#include "streams/signature_check.h"

// Key material compiled in from the key directory chosen at configure time (keys/ by default,
// a release build names its own): read-only data, defined in a generated source file.

// u-coordinate of the point that package signatures are checked against, 32 bytes
// little-endian; of the two points with this u, the one with even y.
extern const std::uint8_t packageKey[32];

// The 72 words of the signature hash: 64 round constants, then 8 initial values.
extern const std::uint32_t signatureHashWords[72];

// Digests of package files trusted without a signature; knownPackageDigestCount entries (the
// array holds at least one row so that it exists even when the table is empty).
extern const std::uint8_t KnownPackageDigests[][kDigestSize];
extern const int knownPackageDigestCount;
