#pragma once

#include <cstdint>

#include "streams/signature_check.h"

// The admission of package files that carry no signature: their SHA-1 digest, as a PartReader
// computes it, must be listed in a table of trusted digests.

// True when digest is in KnownPackageDigests, the table built in from the key directory.
bool IsKnownPackageDigest(const std::uint8_t digest[kDigestSize]);
