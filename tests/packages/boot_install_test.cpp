#include "packages/boot_install.h"
#include "packages/boot_install_internal.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utime.h>

#include "packages/database_lookup.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"

namespace {

constexpr time_t kOldTime = 1000000000;

class BootInstallTest : public InstallTest {
 protected:
  // Writes p, signed, into dir (created when missing) with an old modification time.
  std::string Drop(const TestPackage& p, const std::string& dir, const std::string& name) {
    MakeTestDirectories(dir);
    std::string path = dir + "/" + name;
    utimbuf times{kOldTime, kOldTime};
    EXPECT_TRUE(p.Write(path, TestPackage::kSigned) && utime(path.c_str(), &times) == 0);
    return path;
  }
  void Install(const char* name, const char* version) {
    ASSERT_EQ(InstallTestFile(Package(name, version, File("files")), AllowUpgrade), 0);
  }
  std::string Pckg() const { return tree.Target("/rw/pckg"); }
};

// A meminfo file of the layout with MemAvailable, with MemFree + Buffers + Cached as given.
std::string MemInfo(unsigned long long freeKiB) {
  return "MemTotal: 2000000 kB\nMemFree: " + std::to_string(freeKiB - 200) +
         " kB\nMemAvailable: 1500000 kB\nBuffers: 100 kB\nCached: 100 kB\n";
}

TEST_F(BootInstallTest, RamBudgetFromFreeMemory) {
  const std::pair<std::string, std::uint64_t> cases[] = {
      {MemInfo(8192), 0},
      {MemInfo(8193), 1024},
      {MemInfo(8192 + 131072), 128 << 20},
      {"MemTotal: 9 kB\nMemFree: 9000 kB\nBuffers: 100 kB\nCached: 116 kB\n", 1 << 20},
      {"MemTotal: 9 kB\nMemFree: 900000 kB\nBuffers: 100 kB\n", 0}};
  for (const auto& [text, budget] : cases) {
    WriteTreeFile(tree.System("/proc/meminfo"), text);
    EXPECT_EQ(RamBudget(tree.System("/proc/meminfo")), budget) << text;
  }
  EXPECT_EQ(RamBudget(tree.System("/proc/none")), 0u);
}

TEST_F(BootInstallTest, DowngradeMarkerLetsTheOlderFileIn) {
  Install("base", "1.0");
  Install("ppp", "2.0");
  std::string older = Package("ppp", "1.0", Pckg());
  std::string newer = Package("ppp", "1.5", Pckg());
  WriteTreeFile(tree.System("/rw/DOWNGRADE"), "");
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "base 1.0 on\nppp 1.0 on\n");
  // The marker is used up; the file not chosen stays for the next boot.
  EXPECT_FALSE(PathExists(tree.System("/rw/DOWNGRADE")) || PathExists(older));
  EXPECT_TRUE(PathExists(newer));
}

TEST_F(BootInstallTest, FallbackDirectoryOnlyWhenTheDropDirectoryIsEmpty) {
  Package("ppp", "1.0", Pckg());
  std::string fallback = Package("pptp", "1.0", tree.Target("/var/pckg"));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "ppp 1.0 on\n");
  EXPECT_TRUE(PathExists(fallback));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "ppp 1.0 on\npptp 1.0 on\n");
  EXPECT_FALSE(PathExists(fallback));
}

TEST_F(BootInstallTest, OnlyFilesSmallerThanTheBudgetLeftGoToRamAndFailedOnesComeBack) {
  // Packages for another architecture verify, but their installation fails. The description
  // pads the first to exactly the budget of 8 KiB and the second to one byte less.
  auto padded = [&](const char* name, std::size_t size) {
    TestPackage p(name, "1.0");
    p.Info().architecture = "mips";
    p.Info().description = "x";
    std::size_t base = p.Bytes(TestPackage::kSigned).size();
    p.Info().description = std::string(size - base + 1, 'x');
    return Drop(p, Pckg(), std::string(name) + ".vpk");
  };
  // Considered in reverse name order: the exact one first, so it alone decides the boundary.
  std::string exact = padded("bbb", 8192);
  std::string smaller = padded("aaa", 8191);
  std::string content = ReadWholeTestFile(smaller);
  ASSERT_EQ(ReadWholeTestFile(exact).size() + content.size(), 8192u + 8191u);
  Install("base", "1.0");
  WriteTreeFile(tree.System("/proc/meminfo"), MemInfo(8192 + 8));
  MakeTestDirectories(tree.System("/ram"));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  struct stat exactStatus, smallerStatus;
  ASSERT_EQ(stat(exact.c_str(), &exactStatus) | stat(smaller.c_str(), &smallerStatus), 0);
  EXPECT_EQ(exactStatus.st_mtime, kOldTime);    // never moved
  EXPECT_NE(smallerStatus.st_mtime, kOldTime);  // moved to RAM and back: a new copy
  EXPECT_EQ(ReadWholeTestFile(smaller), content);
  EXPECT_EQ(ListTree(tree.System("/ram")), std::vector<std::string>{});
}

TEST_F(BootInstallTest, UserChoicesStayAndEnabledNamesComeBack) {
  // base excludes the new ppp, which is therefore installed disabled; it was enabled before.
  TestPackage base("base", "1.0");
  ASSERT_EQ(InstallTestFile(Drop(base.Conflicts("ppp>=2.0"), File("files"), "base.vpk"), 0), 0);
  Install("ppp", "1.0");
  Install("pptp", "1.0");
  FindPackage("pptp")->userForced = true;
  WriteDisabledState(*FindPackage("pptp"));
  Package("pptp", "2.0", Pckg());
  Package("ppp", "2.0", Pckg());
  GetPackageDatabase().log.clear();
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "base 1.0 on\npptp 2.0 off\nppp 2.0 on\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/pptp/disabled")), "user\n");
  std::string log = LogText();
  EXPECT_NE(log.find("installed (disabled) ppp-2.0\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.rfind('\n') + 1), "enabled ppp-2.0");
}

// A kernel package with an image, carrying the boot image.
TestPackage Kernel() {
  TestPackage kernel("kernel", "5.4");
  kernel.Flags(kFlagBootImage).Image("IMAGE").File("/boot/vmlinuz", "k");
  return kernel;
}

TEST_F(BootInstallTest, ImageIsLinkedIntoThePackageDirectory) {
  Install("base", "1.0");
  std::string bytes = ReadWholeTestFile(Drop(Kernel(), Pckg(), "kernel.vpk"));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(ReadWholeTestFile(tree.Target("/var/pdb/kernel/image")), bytes);
  struct stat image, boot;
  ASSERT_EQ(stat(tree.Target("/var/pdb/kernel/image").c_str(), &image), 0);
  ASSERT_EQ(stat(tree.Target("/bootimage").c_str(), &boot), 0);
  EXPECT_EQ(image.st_ino, boot.st_ino);
  EXPECT_EQ(ListTree(Pckg()), std::vector<std::string>{});
}

TEST_F(BootInstallTest, ImageInRamGoesToTheImagesDirectory) {
  struct statfs shm, tmp;
  if (statfs("/dev/shm", &shm) != 0 || statfs(tree.Base().c_str(), &tmp) != 0 ||
      shm.f_type == tmp.f_type) {
    GTEST_SKIP() << "needs /dev/shm on another file system than " << tree.Base();
  }
  // The system's /ram and /rw lie on one memory file system, the tree on another.
  std::string memory = "/dev/shm/" + tree.Base().substr(tree.Base().rfind('/') + 1);
  MakeTestDirectories(memory + "/ram");
  MakeTestDirectories(memory + "/rw/pckg");
  ASSERT_EQ(symlink((memory + "/ram").c_str(), tree.System("/ram").c_str()), 0);
  ASSERT_EQ(symlink((memory + "/rw").c_str(), tree.System("/rw").c_str()), 0);
  Install("base", "1.0");
  std::string bytes = ReadWholeTestFile(Drop(Kernel(), tree.System("/ram"), "kernel.vpk"));
  EXPECT_TRUE(BootInstall(AllowUpgrade | AcceptInstalled));
  EXPECT_EQ(InstalledStates(), "base 1.0 on\nkernel 5.4 on\n");
  EXPECT_EQ(ReadWholeTestFile(memory + "/rw/pckg/.images/kernel"), bytes);
  EXPECT_EQ(ReadTreeFile(tree.System("/ram/bootimage")), "kernel\n");
  EXPECT_FALSE(PathExists(tree.System("/ram/kernel.vpk")));
  ASSERT_EQ(system(("rm -rf " + memory).c_str()), 0);
}

}  // namespace
