#include "packages/boot_install.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utime.h>

#include "packages/database_lookup.h"
#include "packages/database_store.h"
#include "packages/install_bundle.h"
#include "packages/package_database.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"
#include "tests/support/package_tree.h"

namespace {

constexpr time_t kOldTime = 1000000000;

class BootInstallTest : public testing::Test {
 protected:
  void SetUp() override { testing::internal::CaptureStdout(); }
  void TearDown() override {
    output = testing::internal::GetCapturedStdout();
    if (HasFailure()) {
      std::fputs(output.c_str(), stdout);
    }
  }

  // Writes p, signed, as name into dir of the tree (created when missing) with an old
  // modification time; returns the path.
  std::string Drop(const TestPackage& p, const std::string& dir, const std::string& name) {
    MakeTestDirectories(dir);
    std::string path = dir + "/" + name;
    EXPECT_TRUE(p.Write(path, TestPackage::kSigned));
    utimbuf times{kOldTime, kOldTime};
    EXPECT_EQ(utime(path.c_str(), &times), 0);
    return path;
  }
  std::string Drop(const char* name, const char* version, const std::string& dir) {
    TestPackage p(name, version);
    p.File(std::string("/") + name, version);
    return Drop(p, dir, std::string(name) + "-" + version + ".vpk");
  }
  std::string Pckg() const { return tree.Target("/rw/pckg"); }

  void Install(const char* name, const char* version) {
    ASSERT_EQ(InstallTestFile(Drop(name, version, tree.Base() + "/files"), AllowUpgrade), 0);
  }

  void WriteMemInfo(unsigned long long freeKiB, bool withAvailable = false) {
    WriteTreeFile(tree.System("/proc/meminfo"),
                  "MemTotal:        2000000 kB\nMemFree:         " + std::to_string(freeKiB - 200) +
                      " kB\n" + (withAvailable ? "MemAvailable:    1500000 kB\n" : "") +
                      "Buffers:             100 kB\nCached:              100 kB\n"
                      "SwapCached:            0 kB\n");
  }

  std::string State(const char* name) {
    const Package* p = FindPackage(name);
    return p == nullptr ? "none"
                        : std::string(VersionText(p->version)) + (p->disabled ? " off" : " on");
  }

  PackageTree tree;
  std::string output;
};

TEST_F(BootInstallTest, RamBudgetFromFreeMemory) {
  struct Case {
    unsigned long long freeKiB;  // MemFree + Buffers + Cached
    bool withAvailable;
    std::uint64_t budget;
  } cases[] = {
      {8192, false, 0},
      {8193, false, 1024},
      {8192 + 131072, false, 128 << 20},
      {4000000, false, 128 << 20},
      {9216, true, 1 << 20},  // the layout of kernels that report MemAvailable
  };
  for (const Case& c : cases) {
    WriteMemInfo(c.freeKiB, c.withAvailable);
    EXPECT_EQ(RamBudget(tree.System("/proc/meminfo")), c.budget) << c.freeKiB;
  }
  WriteTreeFile(tree.System("/proc/meminfo"), "MemTotal: 2000000 kB\nMemFree: 900000 kB\n");
  EXPECT_EQ(RamBudget(tree.System("/proc/meminfo")), 0u);
  EXPECT_EQ(RamBudget(tree.System("/proc/none")), 0u);
}

TEST_F(BootInstallTest, DowngradeMarkerLetsTheOlderFileIn) {
  Install("base", "1.0");
  Install("ppp", "2.0");
  std::string older = Drop("ppp", "1.0", Pckg());
  GetPackageDatabase().log.clear();
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(State("ppp"), "2.0 on");
  EXPECT_TRUE(PathExists(older));
  EXPECT_EQ(LogText(),
            "verified ppp-1.0.vpk\n"
            "WARNING: omitting package ppp-1.0: newer package ppp-2.0 is already installed");

  std::string newer = Drop("ppp", "1.5", Pckg());
  WriteTreeFile(tree.System("/rw/DOWNGRADE"), "");
  GetPackageDatabase().log.clear();
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(State("ppp"), "1.0 on");
  EXPECT_FALSE(PathExists(tree.System("/rw/DOWNGRADE")));
  EXPECT_FALSE(PathExists(older));
  EXPECT_TRUE(PathExists(newer));
  EXPECT_NE(LogText().find("WARNING: omitting package ppp-1.5: older package is already provided"),
            std::string::npos);
}

TEST_F(BootInstallTest, FallbackDirectoryOnlyWhenTheDropDirectoryIsEmpty) {
  Drop("ppp", "1.0", Pckg());
  std::string fallback = Drop("pptp", "1.0", tree.Target("/var/pckg"));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(State("ppp") + ", " + State("pptp"), "1.0 on, none");
  EXPECT_TRUE(PathExists(fallback));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(State("pptp"), "1.0 on");
  EXPECT_EQ(ListTree(Pckg()), std::vector<std::string>{});
  EXPECT_EQ(ListTree(tree.Target("/var/pckg")), std::vector<std::string>{});
}

TEST_F(BootInstallTest, OnlyFilesSmallerThanTheBudgetLeftGoToRamAndFailedOnesComeBack) {
  // Two packages for another architecture: they verify, but their installation fails. The
  // description pads the first to exactly 8 KiB and the second to one byte less.
  auto padded = [&](const char* name, std::size_t size) {
    TestPackage p(name, "1.0");
    p.Info().architecture = "mips";
    p.Info().description = "x";
    std::size_t base = p.Bytes(TestPackage::kSigned).size();
    p.Info().description = std::string(size - base + 1, 'x');
    return Drop(p, Pckg(), std::string(name) + ".vpk");
  };
  std::string exact = padded("aaa", 8192);
  std::string smaller = padded("bbb", 8191);
  ASSERT_EQ(ReadWholeTestFile(exact).size(), 8192u);
  std::string content = ReadWholeTestFile(smaller);
  ASSERT_EQ(content.size(), 8191u);
  Install("base", "1.0");
  WriteMemInfo(8192 + 8);  // a budget of 8 KiB
  MakeTestDirectories(tree.System("/ram"));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  struct stat exactStatus, smallerStatus;
  ASSERT_EQ(stat(exact.c_str(), &exactStatus), 0);
  ASSERT_EQ(stat(smaller.c_str(), &smallerStatus), 0);
  EXPECT_EQ(exactStatus.st_mtime, kOldTime);    // never moved
  EXPECT_NE(smallerStatus.st_mtime, kOldTime);  // moved to RAM and back: a new copy
  EXPECT_EQ(ReadWholeTestFile(smaller), content);
  EXPECT_EQ(ListTree(tree.System("/ram")), std::vector<std::string>{});
}

TEST_F(BootInstallTest, UserChoicesStayAndEnabledNamesComeBack) {
  // base excludes the new ppp, which is therefore installed disabled; it was enabled before.
  TestPackage base("base", "1.0");
  base.Conflicts("ppp>=2.0");
  ASSERT_EQ(InstallTestFile(Drop(base, tree.Base() + "/files", "base.vpk"), AllowUpgrade), 0);
  Install("ppp", "1.0");
  Install("pptp", "1.0");
  FindPackage("pptp")->userForced = true;
  WriteDisabledState(*FindPackage("pptp"));
  Drop("pptp", "2.0", Pckg());
  Drop("ppp", "2.0", Pckg());
  GetPackageDatabase().log.clear();
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(State("pptp") + ", " + State("ppp"), "2.0 off, 2.0 on");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/pptp/disabled")), "user\n");
  std::string log = LogText();
  EXPECT_NE(log.find("installed (disabled) ppp-2.0\n"), std::string::npos) << log;
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
  EXPECT_EQ(image.st_nlink, 2u);
  EXPECT_EQ(ListTree(Pckg()), std::vector<std::string>{});
}

TEST_F(BootInstallTest, ImageFromAnotherFileSystemGoesToTheImagesDirectory) {
  struct statfs shm, tmp;
  if (statfs("/dev/shm", &shm) != 0 || statfs(tree.Base().c_str(), &tmp) != 0 ||
      shm.f_type == tmp.f_type) {
    GTEST_SKIP() << "needs /dev/shm on another file system than " << tree.Base();
  }
  std::string memory = "/dev/shm/" + tree.Base().substr(tree.Base().rfind('/') + 1);
  MakeTestDirectories(memory + "/ram");
  MakeTestDirectories(memory + "/rw/pckg");
  ASSERT_EQ(symlink((memory + "/ram").c_str(), tree.System("/ram").c_str()), 0);
  MakeTestDirectories(tree.System("/rwdisk/pckg"));
  struct Case {
    const char* rw;  // where the system's /rw leads
    bool stored;
  } cases[] = {{"/rwdisk", false}, {"/rw", true}};
  Install("base", "1.0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rw);
    unlink(tree.System("/rw").c_str());
    std::string rw = c.stored ? memory + "/rw" : tree.System("/rwdisk");
    ASSERT_EQ(symlink(rw.c_str(), tree.System("/rw").c_str()), 0);
    UninstallByName("kernel");
    GetPackageDatabase().log.clear();
    Drop(Kernel(), tree.System("/ram"), "kernel.vpk");
    EXPECT_TRUE(BootInstall(AllowUpgrade | AcceptInstalled));
    EXPECT_EQ(State("kernel"), "5.4 on");
    EXPECT_EQ(PathExists(rw + "/pckg/.images/kernel"), c.stored);
    EXPECT_EQ(
        LogText().find("WARNING: package kernel image could not be installed") == std::string::npos,
        c.stored);
    EXPECT_EQ(ReadTreeFile(tree.System("/ram/bootimage")), "kernel\n");
    unlink(tree.System("/ram/bootimage").c_str());
  }
  ASSERT_EQ(system(("rm -rf " + memory).c_str()), 0);
}

TEST_F(BootInstallTest, EmptyDatabaseAfterwardsEndsTheBoot) {
  TestPackage mips("ppp", "1.0");
  mips.Info().architecture = "mips";
  std::string file = Drop(mips, Pckg(), "ppp.vpk");
  testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  std::string printed = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(BootInstallationLost());
  EXPECT_TRUE(PathExists(file));
  std::string lines = "\nERROR: router installation failed!!!\nPlease, reinstall.\n";
  ASSERT_GE(printed.size(), lines.size());
  EXPECT_EQ(printed.substr(printed.size() - lines.size()), lines);
  EXPECT_EQ(LogText().find("router installation failed"), std::string::npos);
}

}  // namespace
