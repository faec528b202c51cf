#include "packages/database_remove.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/package_tree.h"

namespace {

void Link(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

}  // namespace

TEST(DatabaseRemoveTest, RemovesListedFilesOnly) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/bin/ppp"), "x");
  WriteTreeFile(tree.Target("/etc/ppp.conf"), "x");
  WriteTreeFile(tree.Target("/bin/other"), "x");
  WriteTreeFile(tree.Target("/x/ppp/bin/ppp"), "x");
  Package p("ppp");
  p.files = {"/bin/ppp", "/etc/ppp.conf", "/x/ppp/bin/ppp", "/bin/gone", "/./bin"};
  RemovePackageFiles(p);
  EXPECT_TRUE(p.files.empty());
  EXPECT_EQ(ListTree(tree.Target()),
            (std::vector<std::string>{"bin", "bin/other", "etc", "x", "x/ppp", "x/ppp/bin"}));
}

// A files list is outside input: no entry may delete anything beside the target tree, whether it
// climbs with ".." or runs through a symbolic link of the tree.
TEST(DatabaseRemoveTest, HostileFileListStaysInsideTheTree) {
  PackageTree tree;
  WriteTreeFile(tree.Outside("/victim"), "keep");
  WriteTreeFile(tree.Target("/outside/victim"), "inside");
  WriteTreeFile(tree.Target("/bin/keep"), "keep");
  Link(tree.Outside(), tree.Target("/abs"));   // a host path: inside the tree it names nothing
  Link("../../outside", tree.Target("/rel"));  // would climb above the tree's root
  Link(tree.Outside("/victim"), tree.Target("/bin/link"));
  Package p("evil");
  p.files = {"/../outside/victim",
             "../../outside/victim",
             "/bin/../../outside/victim",
             "/abs/victim",
             "/rel/victim",
             "/bin/link",
             std::string("/bin/keep\0x", 11)};
  RemovePackageFiles(p);
  EXPECT_EQ(ReadTreeFile(tree.Outside("/victim")), "keep");
  EXPECT_FALSE(PathExists(tree.Target("/bin/link")));  // the link itself goes
  EXPECT_TRUE(PathExists(tree.Target("/bin/keep")));
  EXPECT_EQ(ReadTreeFile(tree.Target("/outside/victim")), "inside");
}

// An absolute link of the new system leads to the tree's own directory, as it will after boot.
TEST(DatabaseRemoveTest, FollowsLinksOfTheTreeInsideIt) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/usr/lib/libx.so"), "x");
  Link("/usr/lib", tree.Target("/lib"));
  Package p("libx");
  p.files = {"/lib/libx.so"};
  RemovePackageFiles(p);
  EXPECT_FALSE(PathExists(tree.Target("/usr/lib/libx.so")));
  EXPECT_TRUE(PathExists(tree.Target("/lib")));
}

TEST(DatabaseRemoveTest, RemovesFilesAndDirectoryButNotDotEntries) {
  PackageTree tree;
  for (const char* file : {"version", "deps", "files", "oninstall"})
    WriteTreeFile(tree.Target("/var/pdb/ppp/") + file, "x");
  WriteTreeFile(tree.Target("/var/pdb/other/version"), "x");
  WriteTreeFile(tree.Target("/bin/ppp"), "x");
  Package ppp("ppp");
  ppp.files = {"/bin/ppp"};
  ppp.scheduledAction = kScheduleUninstall;
  RemovePackage(ppp);
  EXPECT_EQ(ppp.scheduledAction, kScheduleNone);
  EXPECT_FALSE(PathExists(tree.Target("/bin/ppp")));
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/ppp")));
  EXPECT_TRUE(PathExists(tree.Target("/var/pdb/other/version")));

  WriteTreeFile(tree.Target("/var/pdb/kept/version"), "x");
  WriteTreeFile(tree.Target("/var/pdb/kept/.hidden"), "x");
  RemovePackageDirectory(Package("kept"));
  EXPECT_EQ(ListTree(tree.Target("/var/pdb/kept")), std::vector<std::string>{".hidden"});
}

// A name that is no directory of var/pdb must not make the removal delete files elsewhere.
TEST(DatabaseRemoveTest, HostileNamesRemoveNothing) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/var/pdb/ppp/version"), "x");
  WriteTreeFile(tree.Target("/var/pdb/version"), "x");
  WriteTreeFile(tree.Target("/var/version"), "x");
  WriteTreeFile(tree.Target("/version"), "x");
  WriteTreeFile(tree.Outside("/version"), "x");
  Link(tree.Outside(), tree.Target("/var/pdb/linked"));
  std::vector<std::string> before = ListTree(tree.Base());
  for (const std::string& name :
       {std::string(""), std::string("."), std::string(".."), std::string("../.."),
        std::string("ppp/../.."), std::string("../../../outside"), std::string("linked"),
        std::string("ppp\0", 4)}) {
    RemovePackageDirectory(Package(name));
  }
  EXPECT_EQ(ListTree(tree.Base()), before);
}

// "bootimage" is a hard link to a package's image; when the image goes and "bootimage" is its last
// link, it goes too.
TEST(DatabaseRemoveTest, BootImageFollowsItsLastLink) {
  struct Case {
    bool secondLink;
    bool bootImageStays;
  } cases[] = {{false, false}, {true, true}};
  for (const Case& c : cases) {
    PackageTree tree;
    WriteTreeFile(tree.Target("/var/pdb/system/image"), "image");
    ASSERT_EQ(link(tree.Target("/var/pdb/system/image").c_str(), tree.Target("/bootimage").c_str()),
              0);
    if (c.secondLink) {
      WriteTreeFile(tree.Target("/rw/keep"), "");
      ASSERT_EQ(link(tree.Target("/bootimage").c_str(), tree.Target("/rw/image").c_str()), 0);
    }
    RemovePackageDirectory(Package("system"));
    EXPECT_FALSE(PathExists(tree.Target("/var/pdb/system")));
    EXPECT_EQ(PathExists(tree.Target("/bootimage")), c.bootImageStays) << c.secondLink;
  }
}
