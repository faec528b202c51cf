#pragma once

#include <cstdint>

#include "streams/signature_check.h"

// The admission of package files that carry no signature: their SHA-1 digest, as a PartReader
// computes it, must be listed in a table of trusted digests.

// True when digest equals one of the count entries of table, compared in table order; the search
// ends at the first equal entry. A count of 0 admits nothing.
bool IsDigestInTable(const std::uint8_t digest[kDigestSize],
                     const std::uint8_t (*table)[kDigestSize], int count);

// True when digest is in KnownPackageDigests, the table built in from the key directory.
bool IsKnownPackageDigest(const std::uint8_t digest[kDigestSize]);
