#include "packages/database_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/package_tree.h"

static void Sample(Package& p) {
  p.version = MakeVersion(2, 4, 'f', 7);
  p.buildTime = 1700000000;
  p.dependencies = {{"libc", MakeVersion(2, 0, 'f', 0)}, {"kernel", 0, MakeVersion(3, 0, 'f', 0)}};
  p.provides = {{"dialer", 0, 0, -1}};
  p.conflicts = {{"pppd", 0, MakeVersion(2, 4, 'f', 0)}};
  p.bundle = {"net", MakeVersion(1, 0, 'f', 0)};
  p.files = {"/usr/sbin/ppp", "/etc/ppp/options", "./bin/x"};
}

// Both forms, the relative one from the working directory "/" of the installer child, write alike.
TEST(DatabaseStoreTest, WritesEveryFileInItsFormat) {
  for (bool relative : {false, true}) {
    PackageTree tree;
    Package p("ppp");
    Sample(p);
    char saved[4096];
    ASSERT_TRUE(getcwd(saved, sizeof saved) != nullptr && chdir("/") == 0);
    Placement placement = relative ? Placement::kWorkingDirectory : Placement::kTargetRoot;
    bool stored = CreatePackageDirectory(p, placement) && WritePackageMetadata(p, placement);
    ASSERT_TRUE(chdir(saved) == 0 && stored);
    std::string entry;
    for (const std::string& file : ListTree(tree.Target("/var/pdb/ppp"))) {
      entry += file + ": " + ReadTreeFile(tree.Target("/var/pdb/ppp/") + file);
    }
    EXPECT_EQ(entry,
              "bundle: net\nconflicts: pppd 0 33842688\ndeps: libc 33580544 0\nkernel 0 50357760\n"
              "files: ./bin/x\netc/ppp/options\nusr/sbin/ppp\nprovides: dialer 0 0 -1\n"
              "version: 33842695 1700000000\n");
  }
}

// A failed metadata write names the item; the half-written entry and the package's files are
// removed again, and nothing is written through a link planted in its place.
TEST(DatabaseStoreTest, FailedWriteReportsAndUndoes) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/bin/ppp"), "x");
  MakeTestDirectories(tree.Target("/var/pdb/ppp"));
  ASSERT_EQ(symlink(tree.Outside("/deps").c_str(), tree.Target("/var/pdb/ppp/deps").c_str()), 0);
  Package p("ppp");
  Sample(p);
  p.files = {"/bin/ppp"};
  CapturedStdout([&] { EXPECT_FALSE(StorePackage(p)); });
  EXPECT_EQ(GetPackageDatabase().log,
            std::vector<std::string>{"ERROR: installation of net-1.0 failed: could not create "
                                     "meta/deps: Too many levels of symbolic links"});
  EXPECT_EQ(ListTree(tree.Base()),
            (std::vector<std::string>{"flash", "flash/bin", "flash/var", "flash/var/pdb", "outside",
                                      "system"}));
}

// Names that a directory or a list file cannot hold are refused before anything is written.
TEST(DatabaseStoreTest, RefusesNamesTheDatabaseCannotHold) {
  const std::string cases[][3] = {{"", "libc", "/bin/x"},
                                  {"..", "libc", "/bin/x"},
                                  {"a/../../../outside", "libc", "/bin/x"},
                                  {"ppp", "lib c", "/bin/x"},
                                  {"ppp", "libc", "/bin/x\netc/passwd"}};
  for (const auto& [name, dependency, file] : cases) {
    PackageTree tree;
    Package p(name);
    p.dependencies = {{dependency}};
    p.files = {file};
    CapturedStdout([&] { EXPECT_FALSE(StorePackage(p)) << name << dependency; });
    EXPECT_EQ(GetPackageDatabase().log, std::vector<std::string>{"ERROR: installation of " + name +
                                                                 "-0.0 failed: broken package"});
    std::vector<std::string> left = ListTree(tree.Base());  // at most empty database directories
    std::erase(left, "flash/var");
    std::erase(left, "flash/var/pdb");
    EXPECT_EQ(left, (std::vector<std::string>{"flash", "outside", "system"})) << name;
  }
}
