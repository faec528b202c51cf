#include "packages/package.h"

#include <gtest/gtest.h>

#include "tests/support/package_tree.h"

// Display names are checked with the messages that use them (unpacking, the database, the
// reporter).
TEST(PackageTest, DumpListsStateDependenciesAndSortedFiles) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  p.disabled = p.userForced = true;
  p.dependencies = {{"system", MakeVersion(2, 9, 'c', 1), MakeVersion(3, 0, 'f', 0)}};
  p.files = {"/usr/sbin/pppd", "/etc/ppp", "/Z"};
  EXPECT_EQ(
      CapturedStdout([&] { DumpPackage(p); }),
      "package <ppp>\n version=2.9.5\n   disabled\n   user-forced\n  deps=\n"
      "    <system> min=2.9rc1 max=3.0\n  files=\n    /Z\n    /etc/ppp\n    /usr/sbin/pppd\n");
}
