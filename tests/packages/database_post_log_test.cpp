#include "packages/post_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/package_tree.h"

TEST(PostLogTest, NeverWritesThroughALink) {
  PackageTree tree;
  WriteTreeFile(tree.Outside("/victim"), "safe");
  ASSERT_EQ(symlink(tree.Outside("/victim").c_str(), tree.Target("/postlog").c_str()), 0);
  GetPackageDatabase().log = {"message"};
  ReadPostLog();
  SavePostLog();
  EXPECT_EQ(ReadTreeFile(tree.Outside("/victim")), "safe");
}
