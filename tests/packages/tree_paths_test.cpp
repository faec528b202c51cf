#include "packages/tree_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "packages/tree_paths_internal.h"
#include "tests/support/package_tree.h"

// The kernel's lookup and the fallback walk agree on links of every kind; neither leads out of the
// tree. (".." and the making of directories are checked through unpacking and removal.)
TEST(TreePathsTest, ResolvesLinksInsideTheTreeAndRefusesWaysOut) {
  PackageTree tree;
  MakeTestDirectories(tree.Target("/usr/lib"));
  WriteTreeFile(tree.Target("/file"), "x");
  const std::pair<std::string, const char*> links[] = {
      {tree.Outside(), "/host"}, {"/usr/lib", "/lib"},     {"usr/lib", "/rel"},
      {"../lib", "/usr/up"},     {"../outside", "/climb"}, {"loop", "/loop"}};
  for (const auto& [target, name] : links) {
    ASSERT_EQ(symlink(target.c_str(), tree.Target(name).c_str()), 0) << name;
  }
  // Components, the directory they name or else the error (the host's path is not in the tree).
  const std::tuple<std::vector<std::string>, const char*, int> cases[] = {
      {{}, "", 0},
      {{"lib"}, "/usr/lib", 0},
      {{"rel"}, "/usr/lib", 0},
      {{"usr", "up"}, "/usr/lib", 0},
      {{"host"}, nullptr, ENOENT},
      {{"climb"}, nullptr, EXDEV},
      {{"loop"}, nullptr, ELOOP},
      {{"file"}, nullptr, ENOTDIR}};
  int root = OpenTreeRoot(tree.Target());
  ASSERT_GE(root, 0);
  for (auto* open : {&OpenTreeDirectory, &WalkTreeDirectory}) {
    for (const auto& [components, expected, error] : cases) {
      std::string what = testing::PrintToString(components);
      errno = 0;
      int descriptor = open(root, components);
      if (expected == nullptr) {
        EXPECT_EQ(descriptor < 0 ? errno : 0, error) << what;
        continue;
      }
      ASSERT_GE(descriptor, 0) << what << ": " << strerror(errno);
      struct stat found = {}, wanted = {};
      ASSERT_EQ(fstat(descriptor, &found) + stat(tree.Target(expected).c_str(), &wanted), 0);
      EXPECT_EQ(found.st_ino, wanted.st_ino) << what;
      close(descriptor);
    }
  }
  close(root);
}
