#include "packages/database_remove.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "packages/database_remove_internal.h"
#include "tests/support/package_tree.h"

// The listed files go (links resolved inside the tree) and the package directory, unless a "."
// entry keeps it. Lists and names are outside input: none may delete anything beyond them.
TEST(DatabaseRemoveTest, RemovesOnlyWhatThePackageOwns) {
  PackageTree tree;
  for (const char* file :
       {"/bin/ppp", "/usr/lib/libx.so", "/var/pdb/ppp/version", "/var/version", "/var/pdb/version",
        "/version", "/outside/version", "/var/pdb/kept/.a", "/var/pdb/kept/a", "/bin/keep"}) {
    WriteTreeFile(tree.Target(file), "x");
  }
  WriteTreeFile(tree.Outside("/version"), "x");
  const std::pair<std::string, const char*> links[] = {
      {"/usr/lib", "/lib"},
      {tree.Outside(), "/abs"},   // a host path: inside the tree it names nothing
      {"../../outside", "/rel"},  // would climb above the tree's root
      {tree.Outside(), "/var/pdb/linked"},
      {tree.Outside("/version"), "/bin/link"}};
  for (const auto& [target, name] : links) {
    ASSERT_EQ(symlink(target.c_str(), tree.Target(name).c_str()), 0);
  }
  std::vector<std::string> before = ListTree(tree.Base());
  Package ppp("ppp");
  for (const char* file :
       {"/bin/ppp", "/lib/libx.so", "/bin/link", "/bin/gone", "/./bin", "/../outside/version",
        "../../outside/version", "/bin/../../outside/version", "/abs/version", "/rel/version"}) {
    ppp.files.insert(file);
  }
  ppp.files.insert(std::string("/bin/keep\0x", 11));
  ppp.scheduledAction = kScheduleUninstall;
  RemovePackage(ppp);
  EXPECT_TRUE(ppp.files.empty());
  EXPECT_EQ(ppp.scheduledAction, kScheduleNone);
  for (std::string name :
       {"", ".", "..", "../..", "ppp/../..", "../../../outside", "linked", "kept"}) {
    RemovePackageDirectory(Package(name));
  }
  RemovePackageDirectory(Package(std::string("ppp\0", 4)));
  for (const char* gone :
       {"flash/bin/ppp", "flash/usr/lib/libx.so", "flash/bin/link", "flash/var/pdb/ppp",
        "flash/var/pdb/ppp/version", "flash/var/pdb/kept/a"}) {
    std::erase(before, gone);
  }
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
