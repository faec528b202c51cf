#include "packages/database_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "packages/package_database.h"
#include "tests/support/package_tree.h"

namespace {

std::unique_ptr<Package> SamplePackage() {
  auto p = std::make_unique<Package>("ppp");
  p->version = MakeVersion(2, 4, 'f', 7);
  p->buildTime = 1700000000;
  p->dependencies = {{"libc", MakeVersion(2, 0, 'f', 0), 0, 0},
                     {"kernel", 0, MakeVersion(3, 0, 'f', 0), 0}};
  p->provides = {{"dialer", 0, 0, -1}};
  p->conflicts = {{"pppd", 0, MakeVersion(2, 4, 'f', 0), 0}};
  p->bundle = {"net", MakeVersion(1, 0, 'f', 0), MakeVersion(1, 0, 'f', 0), 0};
  p->files = {"/usr/sbin/ppp", "/etc/ppp/options", "./bin/x"};
  return p;
}

std::string Entry(const PackageTree& tree, const std::string& file) {
  return ReadTreeFile(tree.Target("/var/pdb/ppp/") + file);
}

std::vector<std::string>& Log() {
  return GetPackageDatabase().log;
}

}  // namespace

TEST(DatabaseStoreTest, WritesEveryFileInItsFormat) {
  PackageTree tree;
  auto p = SamplePackage();
  ASSERT_TRUE(StorePackage(*p));
  EXPECT_EQ(Entry(tree, "version"), "33842695 1700000000\n");
  EXPECT_EQ(Entry(tree, "deps"), "libc 33580544 0\nkernel 0 50357760\n");
  EXPECT_EQ(Entry(tree, "provides"), "dialer 0 0 -1\n");
  EXPECT_EQ(Entry(tree, "conflicts"), "pppd 0 33842688\n");
  EXPECT_EQ(Entry(tree, "bundle"), "net\n");
  EXPECT_EQ(Entry(tree, "files"), "./bin/x\netc/ppp/options\nusr/sbin/ppp\n");
  EXPECT_EQ(
      ListTree(tree.Target("/var/pdb/ppp")),
      (std::vector<std::string>{"bundle", "conflicts", "deps", "files", "provides", "version"}));
  EXPECT_TRUE(Log().empty());
}

// The installer child names the directory from its working directory "/" when it installs
// without the database logic; both forms reach the same files.
TEST(DatabaseStoreTest, RelativeFormWritesTheSameEntry) {
  PackageTree tree;
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir("/"), 0);
  auto p = SamplePackage();
  p->hasImage = true;
  WriteTreeFile(tree.Target("/var/pdb/ppp/oninstall"), "echo\n");
  bool created = CreatePackageDirectory(*p, true);
  bool written = WritePackageMetadata(*p, true);
  ASSERT_EQ(chdir(saved), 0);
  ASSERT_TRUE(created && written);
  EXPECT_EQ(Entry(tree, "version"), "33842695 1700000000\n");
  EXPECT_EQ(Entry(tree, "oninstall"), "<missing>");
}

// Empty provides and conflicts lists leave no file; "deps" is always there. A stale "bundle" of a
// package that no longer belongs to one goes.
TEST(DatabaseStoreTest, EmptyListsWriteOnlyDeps) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/var/pdb/ppp/bundle"), "old\n");
  Package p("ppp");
  p.noFileList = true;
  ASSERT_TRUE(StorePackage(p));
  EXPECT_EQ(ListTree(tree.Target("/var/pdb/ppp")), (std::vector<std::string>{"deps", "version"}));
  EXPECT_EQ(Entry(tree, "deps"), "");
}

TEST(DatabaseStoreTest, NoMetadataFlagDeletesTheListFiles) {
  PackageTree tree;
  for (const char* file : {"version", "deps", "provides", "conflicts", "bundle", "files"})
    WriteTreeFile(tree.Target("/var/pdb/ppp/") + file, "old\n");
  WriteTreeFile(tree.Target("/var/pdb/ppp/oninstall"), "echo\n");
  auto p = SamplePackage();
  p->flags = kFlagNoMetadataFiles;
  p->hasImage = true;
  p->disabled = true;
  ASSERT_TRUE(StorePackage(*p));
  // The state is still recorded; an image package keeps no install script.
  EXPECT_EQ(ListTree(tree.Target("/var/pdb/ppp")), std::vector<std::string>{"disabled"});
}

TEST(DatabaseStoreTest, StateFilesFollowDisabledAndUserForced) {
  struct Case {
    bool disabled;
    bool userForced;
    const char* disabledFile;
    const char* enabledFile;
  } cases[] = {
      {false, false, "<missing>", "<missing>"},
      {false, true, "<missing>", "user\n"},
      {true, false, "auto\n", "<missing>"},
      {true, true, "user\n", "<missing>"},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    WriteTreeFile(tree.Target("/var/pdb/ppp/disabled"), "stale\n");
    WriteTreeFile(tree.Target("/var/pdb/ppp/enabled"), "stale\n");
    auto p = SamplePackage();
    p->disabled = c.disabled;
    p->userForced = c.userForced;
    ASSERT_TRUE(WritePackageMetadata(*p, false));
    EXPECT_EQ(Entry(tree, "disabled"), c.disabledFile) << c.disabled << c.userForced;
    EXPECT_EQ(Entry(tree, "enabled"), c.enabledFile) << c.disabled << c.userForced;

    p->scheduledAction = kScheduleDisable;
    WriteDisabledState(*p);
    EXPECT_TRUE(p->disabled);
    EXPECT_EQ(p->scheduledAction, kScheduleNone);
    EXPECT_EQ(Entry(tree, "disabled"), c.userForced ? "user\n" : "auto\n");
    EXPECT_EQ(Entry(tree, "enabled"), "<missing>");

    p->scheduledAction = kScheduleEnable;
    WriteEnabledState(*p);
    EXPECT_FALSE(p->disabled);
    EXPECT_EQ(p->scheduledAction, kScheduleNone);
    EXPECT_EQ(Entry(tree, "disabled"), "<missing>");
    EXPECT_EQ(Entry(tree, "enabled"), c.userForced ? "user\n" : "<missing>");
  }
}

// A failed metadata write names the item; the half-written entry is removed again, and nothing is
// written through a link planted in its place.
TEST(DatabaseStoreTest, FailedWriteReportsAndUndoes) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/bin/ppp"), "x");
  MakeTestDirectories(tree.Target("/var/pdb/ppp"));
  ASSERT_EQ(symlink(tree.Outside("/deps").c_str(), tree.Target("/var/pdb/ppp/deps").c_str()), 0);
  auto p = SamplePackage();
  p->files = {"/bin/ppp"};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(StorePackage(*p));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Log(), std::vector<std::string>{"ERROR: installation of net-1.0 failed: could not "
                                            "create meta/deps: Too many levels of symbolic links"});
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/ppp")));
  EXPECT_FALSE(PathExists(tree.Target("/bin/ppp")));
  EXPECT_FALSE(PathExists(tree.Outside("/deps")));
}

// Names that a database directory or a list file cannot hold are refused before anything is
// written, so nothing lands beside var/pdb and no list reads back different.
TEST(DatabaseStoreTest, RefusesNamesTheDatabaseCannotHold) {
  struct Case {
    const char* what;
    std::string name;
    std::string dependency;
    std::string file;
  } cases[] = {
      {"empty name", "", "libc", "/bin/x"},
      {"dot-dot", "..", "libc", "/bin/x"},
      {"slash", "a/../../../outside", "libc", "/bin/x"},
      {"blank in a dependency", "ppp", "lib c", "/bin/x"},
      {"empty dependency", "ppp", "", "/bin/x"},
      {"line end in a path", "ppp", "libc", "/bin/x\netc/passwd"},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    Package p(c.name);
    p.dependencies = {{c.dependency, 0, 0, 0}};
    p.files = {c.file};
    testing::internal::CaptureStdout();
    EXPECT_FALSE(StorePackage(p)) << c.what;
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(Log().size(), 1u) << c.what;
    EXPECT_NE(Log()[0].find("failed: broken package"), std::string::npos) << Log()[0];
    // At most the empty database directories stay.
    std::vector<std::string> left;
    for (const std::string& path : ListTree(tree.Base())) {
      if (path != "flash/var" && path != "flash/var/pdb")
        left.push_back(path);
    }
    EXPECT_EQ(left, (std::vector<std::string>{"flash", "outside", "system"})) << c.what;
  }
}
