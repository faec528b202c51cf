#include "packages/known_package_digests.h"

#include <gtest/gtest.h>

#include <cstring>

#include "packages/known_package_digests_internal.h"

// Only the first count rows are entries: the compiled table keeps a row of zeros when it is empty.
TEST(KnownPackageDigestsTest, FindsOnlyEntriesWithinTheCount) {
  std::uint8_t table[2][kDigestSize] = {};
  std::memset(table[1], 0x22, kDigestSize);
  std::uint8_t nearMiss[kDigestSize];
  std::memcpy(nearMiss, table[1], kDigestSize);
  nearMiss[kDigestSize - 1] ^= 1;
  EXPECT_TRUE(IsDigestInTable(table[1], table, 2));
  EXPECT_FALSE(IsDigestInTable(nearMiss, table, 2));
  EXPECT_FALSE(IsDigestInTable(table[1], table, 1));
  EXPECT_FALSE(IsDigestInTable(table[0], table, 0));
  EXPECT_FALSE(IsKnownPackageDigest(table[0]));  // the test keys admit no unsigned package
}
