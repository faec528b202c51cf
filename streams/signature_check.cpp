#include "streams/signature_check.h"

#include <cstring>

#include "streams/curve25519.h"
#include "streams/key_material.h"
#include "streams/signature_hash.h"

namespace {

constexpr int kROffset = kDigestSize;
constexpr int kVOffset = kDigestSize + kSignatureRSize;

}  // namespace

bool SignatureEquationHolds(const std::uint8_t digest[kDigestSize],
                            const std::uint8_t signature[kSignatureSize]) {
  std::uint8_t h[kSignatureHashSize];
  SignatureChallengeWithWords(signatureHashWords, digest, signature + kROffset, h);
  CurvePoint key;
  if (!PointFromU(packageKey, &key)) {
    return false;  // a key off the curve accepts nothing
  }
  // v is taken as is, all 256 bits, even when it is not below the group order.
  CurvePoint sum =
      AddPoints(ScalarMultiply(signature + kVOffset, key), ScalarMultiply(h, BasePoint()));
  std::uint8_t u[kFieldBytes];
  PointU(sum, u);
  std::uint8_t check[kSignatureHashSize];
  SignatureHash(u, sizeof u, check);
  return std::memcmp(check, signature + kROffset, kSignatureRSize) == 0;
}
