#include "packages/install_package.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"
#include "tests/support/package_tree.h"

namespace {

class InstallPackageTest : public testing::Test {
 protected:
  void SetUp() override { testing::internal::CaptureStdout(); }
  // The console output, failures included, is shown only when the test failed.
  void TearDown() override {
    std::string output = testing::internal::GetCapturedStdout();
    if (HasFailure()) {
      std::fputs(output.c_str(), stdout);
    }
  }

  std::string File(const std::string& name) const { return tree.Base() + "/" + name; }

  // ppp of that version with one file of its own and one that names the version.
  std::string WritePpp(const char* version, TestPackage::Signing signing = TestPackage::kSigned) {
    TestPackage ppp("ppp", version);
    ppp.File("/ppp-" + std::string(version), "old\n").File("/ppp.conf", version);
    std::string path = File(std::string("ppp-") + version + ".vpk");
    EXPECT_TRUE(ppp.Write(path, signing));
    return path;
  }

  std::vector<std::string> Tree() const { return ListTree(tree.Target()); }

  PackageTree tree;
};

TEST_F(InstallPackageTest, SameFileTwiceIsInstalledOnlyWithAcceptInstalled) {
  std::string path = WritePpp("2.9.5");
  ASSERT_EQ(InstallTestFile(path, AllowUpgrade), 0);
  EXPECT_EQ(ReadTreeFile(tree.Target("/ppp.conf")), "2.9.5");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/ppp/files")), "ppp-2.9.5\nppp.conf\n");
  EXPECT_EQ(InstallTestFile(path, AllowUpgrade), 1);
  EXPECT_EQ(InstallTestFile(path, AllowUpgrade | AcceptInstalled), 0);
  EXPECT_EQ(LogText(),
            "installed ppp-2.9.5\n"
            "WARNING: omitting package ppp-2.9.5: it is already installed\n"
            "installed ppp-2.9.5");
  EXPECT_EQ(DatabaseNames(), "ppp");
}

TEST_F(InstallPackageTest, ReplacesOnlyInTheAllowedDirection) {
  struct Step {
    const char* version;
    InstallMode mode;
    int result;
    const char* installed;  // the version text in ppp.conf afterwards
    const char* message;
  } steps[] = {
      {"2.0", AllowUpgrade, 0, "2.0", "installed ppp-2.0"},
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
    EXPECT_EQ(InstallTestFile(WritePpp(step.version), step.mode), step.result);
    EXPECT_EQ(LogText(), step.message);
    EXPECT_EQ(ReadTreeFile(tree.Target("/ppp.conf")), step.installed);
    // The replaced package's own file went with it.
    EXPECT_EQ(Tree(), (std::vector<std::string>{"ppp-" + std::string(step.installed), "ppp.conf",
                                                "var", "var/pdb", "var/pdb/ppp", "var/pdb/ppp/deps",
                                                "var/pdb/ppp/files", "var/pdb/ppp/version"}));
  }
}

TEST_F(InstallPackageTest, UnusablePackagesAreRefusedUnlessIgnored) {
  TestPackage mips("ppp", "1.0");
  mips.Info().architecture = "mips";
  mips.File("/ppp.conf", "x");
  ASSERT_TRUE(mips.Write(File("mips.vpk"), TestPackage::kSigned));
  TestPackage needy("ppp", "1.0");
  needy.Depends("zlib>=1.2").Depends("ssl").File("/ppp.conf", "x");
  ASSERT_TRUE(needy.Write(File("needy.vpk"), TestPackage::kSigned));

  EXPECT_EQ(InstallTestFile(File("mips.vpk"), AllowUpgrade), 1);
  EXPECT_EQ(InstallTestFile(File("needy.vpk"), AllowUpgrade), 1);
  EXPECT_EQ(LogText(),
            "ERROR: can not install ppp-1.0: it is not made for i386, but for mips\n"
            "ERROR: can not install ppp-1.0: zlib-1.2 is not installed, but is required");
  EXPECT_EQ(Tree(), std::vector<std::string>{});
  EXPECT_EQ(InstallTestFile(File("mips.vpk"), AllowUpgrade | IgnoreUnusable), 0);
}

// Ignoring a missing dependency let the package in, and the dependency rules then uninstalled it
// at once and destroyed its record while it was still being used. The installed package of the
// same name was deleted before that, so nothing was left.
TEST_F(InstallPackageTest, PackageThatTheRulesWouldRemoveLeavesTheInstalledOneAlone) {
  TestPackage base("base", "1.0");
  ASSERT_TRUE(base.Write(File("base.vpk"), TestPackage::kSigned));
  ASSERT_EQ(InstallTestFile(File("base.vpk"), AllowUpgrade), 0);
  ASSERT_EQ(InstallTestFile(WritePpp("1.0"), AllowUpgrade), 0);
  TestPackage needy("ppp", "2.0");
  needy.Depends("zlib").File("/ppp.conf", "2.0");
  ASSERT_TRUE(needy.Write(File("needy.vpk"), TestPackage::kSigned));
  GetPackageDatabase().log.clear();
  EXPECT_EQ(InstallTestFile(File("needy.vpk"), AllowUpgrade | IgnoreUnusable), 1);
  EXPECT_EQ(LogText(), "ERROR: can not install ppp-2.0: the installed packages do not let it stay");
  EXPECT_EQ(ReadTreeFile(tree.Target("/ppp.conf")), "1.0");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/ppp/files")), "ppp-1.0\nppp.conf\n");
  ASSERT_NE(FindPackage("ppp"), nullptr);
  EXPECT_EQ(VersionText(FindPackage("ppp")->version), std::string("1.0"));
}

TEST_F(InstallPackageTest, ConflictingPackageIsInstalledDisabled) {
  TestPackage pppd("pppd", "1.0");
  pppd.Conflicts("ppp").File("/pppd", "x");
  ASSERT_TRUE(pppd.Write(File("pppd.vpk"), TestPackage::kSigned));
  ASSERT_EQ(InstallTestFile(File("pppd.vpk"), AllowUpgrade), 0);
  ASSERT_EQ(InstallTestFile(WritePpp("2.9"), AllowUpgrade), 0);
  EXPECT_EQ(LogText(), "installed pppd-1.0\ninstalled (disabled) ppp-2.9");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/ppp/disabled")), "auto\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/x/ppp/ppp.conf")), "2.9");
  EXPECT_FALSE(PathExists(tree.Target("/ppp.conf")));
}

TEST_F(InstallPackageTest, OnlyAuthenticPackagesStay) {
  std::string signedFile = WritePpp("1.0");
  std::string known = WritePpp("2.0", TestPackage::kUnsigned);
  std::string unknown = WritePpp("3.0", TestPackage::kUnsigned);
  std::string forged = File("forged.vpk");
  std::string bytes = ReadWholeTestFile(WritePpp("4.0"));
  bytes[8 + 6 + 20] ^= 1;  // the build time in the header: the signed digest no longer fits
  ASSERT_TRUE(WriteTestFile(forged, bytes));
  TestDigestTable table({known});
  struct Case {
    std::string path;
    int result;
    const char* message;
  } cases[] = {
      {signedFile, 0, "installed ppp-1.0"},
      {known, 0, "installed ppp-2.0"},
      {unknown, 1, "ERROR: installation of ppp-3.0 failed: broken package"},
      {forged, 1, "ERROR: installation of ppp-4.0 failed: broken package"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PackageTree fresh;
    EXPECT_EQ(InstallTestFile(c.path, AllowUpgrade), c.result);
    EXPECT_EQ(LogText(), c.message);
    std::vector<std::string> left = ListTree(fresh.Target());
    if (c.result != 0) {
      EXPECT_EQ(left, (std::vector<std::string>{"var", "var/pdb"}));
      EXPECT_EQ(DatabaseNames(), "");
    }
  }
}

TEST_F(InstallPackageTest, BootImagePackageMarksTheUpgrade) {
  TestPackage kernel("kernel", "5.4");
  kernel.Flags(kFlagBootImage).File("/boot/vmlinuz", "k");
  ASSERT_TRUE(kernel.Write(File("kernel.vpk"), TestPackage::kSigned));
  bool bootImage = false;
  ASSERT_EQ(InstallTestFile(File("kernel.vpk"), AllowUpgrade, {}, &bootImage), 0);
  EXPECT_TRUE(bootImage);
  EXPECT_EQ(ReadTreeFile(tree.Target("/UPGRADED")), "");
  EXPECT_EQ(ReadTreeFile(tree.Target("/boot/vmlinuz")), "k");

  // A system booted with this image has its files: they are not unpacked again.
  PackageTree again;
  ASSERT_EQ(setenv("bootimage", "1", 1), 0);
  EXPECT_EQ(InstallTestFile(File("kernel.vpk"), AllowUpgrade), 0);
  ASSERT_EQ(unsetenv("bootimage"), 0);
  EXPECT_FALSE(PathExists(again.Target("/boot/vmlinuz")));
  EXPECT_TRUE(PathExists(again.Target("/var/pdb/kernel/version")));
}

}  // namespace
