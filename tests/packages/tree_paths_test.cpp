#include "packages/tree_paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/package_builder.h"

namespace {

// A tree at <temp>/root with links of every kind, and an empty sibling <temp>/outside.
class TreePathsTest : public testing::Test {
 protected:
  void SetUp() override {
    root = top / "root";
    outside = top / "outside";
    namespace fs = std::filesystem;
    fs::create_directories(root + "/usr/lib");
    fs::create_directories(outside);
    ASSERT_TRUE(WriteTestFile(root + "/file", "x"));
    fs::create_directory_symlink("/usr/lib", root + "/lib");
    fs::create_directory_symlink("usr/lib", root + "/rel");
    fs::create_directory_symlink("../lib", root + "/usr/up");
    fs::create_directory_symlink("../outside", root + "/climb");
    fs::create_directory_symlink("usr/../../outside", root + "/climb2");
    fs::create_directory_symlink(outside, root + "/host");
    fs::create_directory_symlink("/missing", root + "/dangling");
    fs::create_directory_symlink("loop", root + "/loop");
    rootDescriptor = OpenTreeRoot(root);
    ASSERT_GE(rootDescriptor, 0);
  }
  void TearDown() override { close(rootDescriptor); }

  // The inode number of what descriptor stands for.
  static ino_t Inode(int descriptor) {
    struct stat status = {};
    fstat(descriptor, &status);
    return status.st_ino;
  }
  static ino_t Inode(const std::string& path) {
    struct stat status = {};
    stat(path.c_str(), &status);
    return status.st_ino;
  }

  bool OutsideIsEmpty() const { return std::filesystem::is_empty(outside); }

  TemporaryDirectory top;
  std::string root, outside;
  int rootDescriptor = -1;
};

}  // namespace

TEST(SplitTreeNameTest, DropsEmptyAndDotComponentsAndRefusesDotDot) {
  struct Case {
    std::string name;
    bool ok;
    std::vector<std::string> components;
  } cases[] = {
      {"/usr//lib/./x", true, {"usr", "lib", "x"}},
      {"bin/x/", true, {"bin", "x"}},
      {"/", true, {}},
      {"", true, {}},
      {"...", true, {"..."}},
      {"..a/b..", true, {"..a", "b.."}},
      {"..", false, {}},
      {"/a/../b", false, {}},
      {"a/..", false, {}},
      {std::string("a\0b", 3), false, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> components;
    EXPECT_EQ(SplitTreeName(c.name, components), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(components, c.components) << c.name;
    }
  }
}

// The kernel's lookup and the walk of older kernels must agree on every name.
TEST_F(TreePathsTest, ResolvesLinksInsideTheTreeAndRefusesWaysOut) {
  struct Case {
    std::vector<std::string> components;
    const char* expected;  // path under root, or nullptr for a failure
    int error;
  } cases[] = {
      {{}, "", 0},
      {{"usr", "lib"}, "/usr/lib", 0},
      {{"lib"}, "/usr/lib", 0},
      {{"rel"}, "/usr/lib", 0},
      {{"usr", "up"}, "/usr/lib", 0},
      {{"host"}, nullptr, ENOENT},  // the host's path, taken inside the tree, is not there
      {{"climb"}, nullptr, EXDEV},
      {{"climb2"}, nullptr, EXDEV},
      {{"dangling"}, nullptr, ENOENT},
      {{"loop"}, nullptr, ELOOP},
      {{"file"}, nullptr, ENOTDIR},
      {{"lib", "missing"}, nullptr, ENOENT},
  };
  for (auto* open : {&OpenTreeDirectory, &WalkTreeDirectory}) {
    for (const Case& c : cases) {
      std::string what = testing::PrintToString(c.components);
      errno = 0;
      int descriptor = open(rootDescriptor, c.components);
      if (c.expected == nullptr) {
        EXPECT_LT(descriptor, 0) << what;
        EXPECT_EQ(errno, c.error) << what;
        continue;
      }
      ASSERT_GE(descriptor, 0) << what << ": " << strerror(errno);
      EXPECT_EQ(Inode(descriptor), Inode(root + c.expected)) << what;
      close(descriptor);
    }
  }
}

TEST_F(TreePathsTest, MakesDirectoriesThroughLinksOnlyInsideTheTree) {
  ASSERT_TRUE(MakeTreeDirectories(rootDescriptor, {"lib", "new", "deeper"}));
  EXPECT_TRUE(std::filesystem::is_directory(root + "/usr/lib/new/deeper"));
  // A link to the host's path leads to that path inside the tree, whose parents are missing.
  EXPECT_FALSE(MakeTreeDirectories(rootDescriptor, {"host", "made"}));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(MakeTreeDirectories(rootDescriptor, {"climb", "made"}));
  EXPECT_EQ(errno, EXDEV);
  EXPECT_FALSE(MakeTreeDirectories(rootDescriptor, {"file", "made"}));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_TRUE(OutsideIsEmpty());
}
