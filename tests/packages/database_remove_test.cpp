#include "packages/database_remove.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/package_tree.h"

// The listed files go, absolute links of the new system leading to the tree's own directories;
// the package directory goes except for entries beginning with ".", which keep it.
TEST(DatabaseRemoveTest, RemovesListedFilesAndTheDirectory) {
  PackageTree tree;
  for (const char* file : {"/bin/ppp", "/bin/other", "/usr/lib/libx.so", "/var/pdb/ppp/version",
                           "/var/pdb/ppp/oninstall", "/var/pdb/other/version", "/var/pdb/kept/.a"})
    WriteTreeFile(tree.Target(file), "x");
  ASSERT_EQ(symlink("/usr/lib", tree.Target("/lib").c_str()), 0);
  Package ppp("ppp");
  ppp.files = {"/bin/ppp", "/lib/libx.so", "/bin/gone", "/./bin"};
  ppp.scheduledAction = kScheduleUninstall;
  RemovePackage(ppp);
  RemovePackageDirectory(Package("kept"));
  EXPECT_TRUE(ppp.files.empty());
  EXPECT_EQ(ppp.scheduledAction, kScheduleNone);
  EXPECT_EQ(ListTree(tree.Target()),
            (std::vector<std::string>{"bin", "bin/other", "lib", "usr", "usr/lib", "var", "var/pdb",
                                      "var/pdb/kept", "var/pdb/kept/.a", "var/pdb/other",
                                      "var/pdb/other/version"}));
}

// Files lists and names are outside input: no entry, whether it climbs with ".." or runs through a
// link of the tree, and no name that is no directory of var/pdb may delete anything else.
TEST(DatabaseRemoveTest, HostileListsAndNamesStayInsideTheTree) {
  PackageTree tree;
  for (const char* file : {"/var/pdb/ppp/version", "/var/pdb/version", "/var/version", "/version",
                           "/outside/version", "/bin/keep"})
    WriteTreeFile(tree.Target(file), "x");
  WriteTreeFile(tree.Outside("/version"), "x");
  ASSERT_EQ(symlink(tree.Outside().c_str(), tree.Target("/abs").c_str()), 0);  // names nothing
  ASSERT_EQ(symlink("../../outside", tree.Target("/rel").c_str()), 0);  // climbs above the root
  ASSERT_EQ(symlink(tree.Outside().c_str(), tree.Target("/var/pdb/linked").c_str()), 0);
  ASSERT_EQ(symlink(tree.Outside("/version").c_str(), tree.Target("/bin/link").c_str()), 0);
  std::vector<std::string> before = ListTree(tree.Base());
  Package p("evil");
  p.files = {"/../outside/version",
             "../../outside/version",
             "/bin/../../outside/version",
             "/abs/version",
             "/rel/version",
             std::string("/bin/keep\0x", 11),
             "/bin/link"};
  RemovePackageFiles(p);
  for (std::string name : {"", ".", "..", "../..", "ppp/../..", "../../../outside", "linked"})
    RemovePackageDirectory(Package(name));
  RemovePackageDirectory(Package(std::string("ppp\0", 4)));
  std::erase(before, "flash/bin/link");  // the link itself goes
  EXPECT_EQ(ListTree(tree.Base()), before);
}

// "bootimage" is a hard link to a package's image; when the image goes and "bootimage" is its last
// link, it goes too.
TEST(DatabaseRemoveTest, BootImageFollowsItsLastLink) {
  for (bool secondLink : {false, true}) {
    PackageTree tree;
    WriteTreeFile(tree.Target("/var/pdb/system/image"), "image");
    ASSERT_EQ(link(tree.Target("/var/pdb/system/image").c_str(), tree.Target("/bootimage").c_str()),
              0);
    if (secondLink) {
      ASSERT_EQ(link(tree.Target("/bootimage").c_str(), tree.Target("/image").c_str()), 0);
    }
    RemovePackageDirectory(Package("system"));
    EXPECT_FALSE(PathExists(tree.Target("/var/pdb/system")));
    EXPECT_EQ(PathExists(tree.Target("/bootimage")), secondLink);
  }
}
