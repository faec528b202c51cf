#include "packages/install_package.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "packages/package_database.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"

namespace {

class InstallPackageTest : public InstallTest {
 protected:
  std::string Installed(const char* file) { return ReadTreeFile(tree.Target(file)); }
};

TEST_F(InstallPackageTest, InstallsAgainOrReplacesOnlyAsTheModeAllows) {
  struct Step {
    const char* version;
    InstallMode mode;
    int result;
    const char* installed;  // the version in ppp.conf afterwards
    const char* message;
  } steps[] = {
      {"2.0", AllowUpgrade, 0, "2.0", "installed ppp-2.0"},
      {"2.0", AllowUpgrade, 1, "2.0", "WARNING: omitting package ppp-2.0: it is already installed"},
      {"2.0", AllowUpgrade | AcceptInstalled, 0, "2.0", "installed ppp-2.0"},
      {"3.0", AllowDowngrade, 1, "2.0",
       "WARNING: omitting package ppp-3.0: older package is already installed"},
      {"3.0", AllowUpgrade, 0, "3.0", "installed ppp-3.0"},
      {"2.0", AllowUpgrade, 1, "3.0",
       "WARNING: omitting package ppp-2.0: newer package ppp-3.0 is already installed"},
      {"2.0", AllowDowngrade, 0, "2.0", "installed ppp-2.0"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.version) + " " + std::to_string(step.mode));
    GetPackageDatabase().log.clear();
    EXPECT_EQ(InstallTestFile(Package("ppp", step.version), step.mode), step.result);
    EXPECT_EQ(LogText(), step.message);
    EXPECT_EQ(Installed("/ppp"), step.installed);
    EXPECT_EQ(Installed("/var/pdb/ppp/files"), "ppp\nppp-" + std::string(step.installed) + "\n");
    // The replaced package's own file went with it.
    EXPECT_EQ(PathExists(tree.Target("/ppp-2.0")), step.installed == std::string("2.0"));
    EXPECT_EQ(PathExists(tree.Target("/ppp-3.0")), step.installed == std::string("3.0"));
  }
}

// Ignoring a missing dependency let the package in, and the dependency rules then uninstalled it
// at once and destroyed its record while it was still being used. The installed package of the
// same name was deleted before that, so nothing was left.
TEST_F(InstallPackageTest, PackageThatTheRulesWouldRemoveLeavesTheInstalledOneAlone) {
  ASSERT_EQ(InstallTestFile(Package("base", "1.0"), AllowUpgrade), 0);
  ASSERT_EQ(InstallTestFile(Package("ppp", "1.0"), AllowUpgrade), 0);
  GetPackageDatabase().log.clear();
  TestPackage needy("ppp", "2.0");
  ASSERT_TRUE(needy.Depends("zlib").Write(File("needy.vpk"), TestPackage::kSigned));
  EXPECT_EQ(InstallTestFile(File("needy.vpk"), AllowUpgrade | IgnoreUnusable), 1);
  EXPECT_EQ(LogText(), "ERROR: can not install ppp-2.0: the installed packages do not let it stay");
  EXPECT_EQ(Installed("/var/pdb/ppp/files"), "ppp\nppp-1.0\n");
  EXPECT_EQ(InstalledStates(), "base 1.0 on\nppp 1.0 on\n");
}

TEST_F(InstallPackageTest, ConflictingPackageIsInstalledDisabled) {
  TestPackage pppd("pppd", "1.0");
  ASSERT_TRUE(pppd.Conflicts("ppp").Write(File("pppd.vpk"), TestPackage::kSigned));
  ASSERT_EQ(InstallTestFile(File("pppd.vpk"), AllowUpgrade), 0);
  ASSERT_EQ(InstallTestFile(Package("ppp", "2.9"), AllowUpgrade), 0);
  EXPECT_EQ(LogText(), "installed pppd-1.0\ninstalled (disabled) ppp-2.9");
  EXPECT_EQ(Installed("/var/pdb/ppp/disabled"), "auto\n");
  EXPECT_EQ(Installed("/x/ppp/ppp"), "2.9");
  EXPECT_FALSE(PathExists(tree.Target("/ppp")));
}

TEST_F(InstallPackageTest, OnlyAuthenticPackagesStay) {
  std::string known = Package("ppp", "2.0", "", TestPackage::kUnsigned);
  std::string bytes = ReadWholeTestFile(Package("ppp", "4.0"));
  bytes[8 + 6 + 20] ^= 1;  // the build time in the header: the signed digest no longer fits
  ASSERT_TRUE(WriteTestFile(File("forged.vpk"), bytes));
  struct Case {
    std::string path;
    const char* message;  // only the installed ones are left
  } cases[] = {
      {Package("ppp", "1.0"), "installed ppp-1.0"},
      {known, "installed ppp-2.0"},
      {Package("ppp", "3.0", "", TestPackage::kUnsigned),
       "ERROR: installation of ppp-3.0 failed: broken package"},
      {File("forged.vpk"), "ERROR: installation of ppp-4.0 failed: broken package"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PackageTree fresh;
    TestDigestTable table(known);  // after the fresh tree, whose database starts afresh
    bool installed = c.message[0] == 'i';
    EXPECT_EQ(InstallTestFile(c.path, AllowUpgrade), installed ? 0 : 1);
    EXPECT_EQ(LogText(), c.message);
    EXPECT_EQ(ListTree(fresh.Target()).size(),
              installed ? 8u : 0u);  // a refused one leaves nothing
  }
}

TEST_F(InstallPackageTest, BootImagePackageMarksTheUpgrade) {
  TestPackage kernel("kernel", "5.4");
  kernel.Flags(kFlagBootImage).File("/boot/vmlinuz", "k");
  ASSERT_TRUE(kernel.Write(File("kernel.vpk"), TestPackage::kSigned));
  bool bootImage = false;
  ASSERT_EQ(InstallTestFile(File("kernel.vpk"), AllowUpgrade, {}, &bootImage), 0);
  EXPECT_TRUE(bootImage);
  EXPECT_EQ(Installed("/UPGRADED"), "");
  EXPECT_EQ(Installed("/boot/vmlinuz"), "k");

  // A system booted with this image has its files: they are not unpacked again.
  PackageTree again;
  ASSERT_EQ(setenv("bootimage", "1", 1), 0);
  EXPECT_EQ(InstallTestFile(File("kernel.vpk"), AllowUpgrade), 0);
  ASSERT_EQ(unsetenv("bootimage"), 0);
  EXPECT_FALSE(PathExists(again.Target("/boot/vmlinuz")));
  EXPECT_TRUE(PathExists(again.Target("/var/pdb/kernel/version")));
}

// An image package kept neither script once; its uninstall script must stay for its removal.
TEST_F(InstallPackageTest, ImagePackageKeepsOnlyItsUninstallScript) {
  TestPackage ppp("ppp", "1.0");
  ppp.Image("IMAGE").InstallScript("echo in\n").UninstallScript("echo out\n").File("/f", "f");
  ASSERT_TRUE(ppp.Write(File("ppp.vpk"), TestPackage::kSigned));
  ASSERT_EQ(InstallTestFile(File("ppp.vpk"), AllowUpgrade), 0);
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/ppp/oninstall")));
  EXPECT_NE(Installed("/var/pdb/ppp/onuninstall").find("echo out\n"), std::string::npos);
}

}  // namespace
