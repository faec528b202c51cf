#include "streams/signature_check.h"

#include <cstring>

#include "streams/curve25519.h"
#include "streams/key_material.h"
#include "streams/signature_hash.h"

namespace {

constexpr int kROffset = kDigestSize;
constexpr int kVOffset = kDigestSize + kSignatureRSize;

// The key and the base point never change: their multiples are prepared once. Null when the
// built-in key is no curve point.
const PointMultiples* KeyMultiples() {
  static const PointMultiples* prepared = []() -> const PointMultiples* {
    static PointMultiples multiples;
    CurvePoint key;
    if (!PointFromU(packageKey, &key)) {
      return nullptr;
    }
    PrepareMultiples(key, &multiples);
    return &multiples;
  }();
  return prepared;
}

const PointMultiples& BaseMultiples() {
  static const PointMultiples prepared = [] {
    PointMultiples multiples;
    PrepareMultiples(BasePoint(), &multiples);
    return multiples;
  }();
  return prepared;
}

}  // namespace

bool SignatureEquationHolds(const std::uint8_t digest[kDigestSize],
                            const std::uint8_t signature[kSignatureSize]) {
  std::uint8_t h[kSignatureHashSize];
  SignatureChallengeWithWords(signatureHashWords, digest, signature + kROffset, h);
  const PointMultiples* key = KeyMultiples();
  if (key == nullptr) {
    return false;  // a key off the curve accepts nothing
  }
  // v is taken as is, all 256 bits, even when it is not below the group order.
  std::uint8_t u[kFieldBytes];
  SumOfMultiplesU(signature + kVOffset, *key, h, BaseMultiples(), u);
  std::uint8_t check[kSignatureHashSize];
  SignatureHash(u, sizeof u, check);
  return std::memcmp(check, signature + kROffset, kSignatureRSize) == 0;
}
