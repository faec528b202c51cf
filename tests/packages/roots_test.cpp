#include "packages/roots.h"

#include <gtest/gtest.h>

TEST(RootsTest, JoinsPathsUnderEitherRoot) {
  PackageRoots saved = GetPackageRoots();
  struct Case {
    const char* root;
    const char* path;
    const char* expected;
  } cases[] = {
      {"/flash", "/var/pdb/", "/flash/var/pdb/"},
      {"/", "/rw/pckg/", "/rw/pckg/"},
      {"/tmp/t/", "/x/a", "/tmp/t/x/a"},
      {"", "/bootimage", "/bootimage"},
  };
  for (const Case& c : cases) {
    GetPackageRoots().target = c.root;
    GetPackageRoots().system = c.root;
    EXPECT_EQ(TargetPath(c.path), c.expected) << c.root;
    EXPECT_EQ(SystemPath(c.path), c.expected) << c.root;
  }
  GetPackageRoots() = saved;
}
