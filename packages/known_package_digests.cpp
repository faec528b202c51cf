#include "packages/known_package_digests.h"

#include <cstring>

#include "packages/known_package_digests_internal.h"
#include "streams/key_material.h"

bool IsDigestInTable(const std::uint8_t digest[kDigestSize],
                     const std::uint8_t (*table)[kDigestSize], int count) {
  for (int i = 0; i < count; ++i) {
    if (std::memcmp(table[i], digest, kDigestSize) == 0) {
      return true;
    }
  }
  return false;
}

bool IsKnownPackageDigest(const std::uint8_t digest[kDigestSize]) {
  // The array keeps one zero row when the table is empty; the count says what is real.
  return IsDigestInTable(digest, KnownPackageDigests, knownPackageDigestCount);
}
