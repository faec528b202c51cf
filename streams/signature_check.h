#pragma once

#include <cstdint>

// Size of a package signature part: the digest copy, r and v.
constexpr int kSignatureSize = 68;
constexpr int kDigestSize = 20;

// Checks the curve equation of a package signature against the built-in package key: the
// signature S (68 bytes: digest copy, r, v) is valid for the package digest D when the first 16
// bytes of the signature hash of u(v*P + h*G) equal r. The caller has already compared the digest
// copy with D. Prints nothing.
bool SignatureEquationHolds(const std::uint8_t digest[kDigestSize],
                            const std::uint8_t signature[kSignatureSize]);
