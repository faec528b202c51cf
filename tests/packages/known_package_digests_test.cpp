#include "packages/known_package_digests.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(KnownPackageDigestsTest, FindsOnlyEntriesWithinTheCount) {
  std::uint8_t table[3][kDigestSize];
  for (int row = 0; row < 3; ++row) {
    std::memset(table[row], 0x10 * (row + 1), kDigestSize);
  }
  std::uint8_t nearMiss[kDigestSize];
  std::memcpy(nearMiss, table[2], kDigestSize);
  nearMiss[kDigestSize - 1] ^= 1;
  struct Case {
    const std::uint8_t* digest;
    int count;
    bool found;
  } cases[] = {
      {table[0], 3, true},  {table[2], 3, true},  {nearMiss, 3, false},
      {table[2], 2, false}, {table[0], 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDigestInTable(c.digest, table, c.count), c.found)
        << "first byte " << int{c.digest[0]} << ", count " << c.count;
  }
}

TEST(KnownPackageDigestsTest, TheEmptyTestTableAdmitsNothing) {
  // The compiled table keeps one row of zeros when it is empty; that row must not count.
  std::uint8_t zeros[kDigestSize] = {};
  std::uint8_t ones[kDigestSize];
  std::memset(ones, 0xff, kDigestSize);
  EXPECT_FALSE(IsKnownPackageDigest(zeros));
  EXPECT_FALSE(IsKnownPackageDigest(ones));
}

}  // namespace
