#include "packages/roots.h"

#include <gtest/gtest.h>

TEST(RootsTest, JoinsPathsUnderEitherRootWithOneSlash) {
  PackageRoots saved = GetPackageRoots();
  const char* cases[][3] = {{"/flash", "/var/pdb/", "/flash/var/pdb/"},
                            {"/", "/rw/pckg/", "/rw/pckg/"},
                            {"/tmp/t//", "/x/a", "/tmp/t/x/a"}};
  for (const auto& [root, path, expected] : cases) {
    GetPackageRoots() = {root, root};
    EXPECT_EQ(TargetPath(path), expected) << root;
    EXPECT_EQ(SystemPath(path), expected) << root;
  }
  GetPackageRoots() = saved;
}
