#include "packages/install_bundle.h"

#include <gtest/gtest.h>

#include "packages/package_database.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"

namespace {

class InstallBundleTest : public InstallTest {
 protected:
  std::string Bundle(const char* version, const std::vector<std::string>& members,
                     const std::vector<std::string>& disabled = {}) {
    std::string path = File(std::string("net-") + version + ".bpk");
    EXPECT_TRUE(WriteTestBundle(path, "net", version, members, disabled));
    return path;
  }
};

// One tree through the versions of a bundle. A bundle cut short used to uninstall the earlier
// members it had not reached; a member header that cannot be read was tried again for ever.
TEST_F(InstallBundleTest, EachVersionKeepsWhatItStillBrings) {
  std::string first = Bundle("1.0", {Package("ppp", "1.0"), Package("pptp", "1.0")}, {"pptp"});
  ASSERT_EQ(InstallTestFile(first, AllowUpgrade, {{"pptp", false}}), kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "net 1.0 on\nppp 1.0 on in:net\npptp 1.0 on in:net\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/pptp/enabled")), "user\n");
  std::string second = Package("pptp", "2.0");
  std::string whole = ReadWholeTestFile(Bundle("2.0", {Package("ppp", "2.0"), second}));
  // The second member's parts are everything of its file after the container header.
  std::string cut = whole.substr(0, whole.size() - (ReadWholeTestFile(second).size() - 8));
  ASSERT_TRUE(WriteTestFile(File("cut.bpk"), cut));
  EXPECT_EQ(InstallTestFile(File("cut.bpk"), AllowUpgrade), kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "pptp 1.0 on in:net\nnet 2.0 on\nppp 2.0 on in:net\n");
  EXPECT_EQ(InstallTestFile(first, AllowUpgrade), kBundleRefused);
  std::string third = Bundle("3.0", {Package("ppp", "3.0"), Package("l2tp", "3.0")});
  ASSERT_EQ(InstallTestFile(third, AllowUpgrade), kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "net 3.0 on\nppp 3.0 on in:net\nl2tp 3.0 on in:net\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/ppp")), "3.0");
  EXPECT_FALSE(PathExists(tree.Target("/pptp")) || PathExists(tree.Target("/var/pdb/pptp")));
  // Bundles whose every member fails: their record replaces the old one, the members stay, and
  // no stand-in record of the members part is left behind.
  TestPackage l2tp("l2tp", "4.0"), dots("x", "1.0");
  ASSERT_TRUE(l2tp.File("/l2tp", "x").Write(File("unsigned.vpk")));
  dots.Info().name = "..";
  ASSERT_TRUE(dots.Write(File("dots.vpk"), TestPackage::kSigned));
  EXPECT_EQ(InstallTestFile(Bundle("4.0", {File("unsigned.vpk")}), AllowUpgrade), kBundleEmpty);
  EXPECT_EQ(InstallTestFile(Bundle("5.0", {File("dots.vpk")}), AllowUpgrade), kBundleEmpty);
  EXPECT_EQ(InstalledStates(), "ppp 3.0 on in:net\nl2tp 3.0 on in:net\nnet 5.0 on\n");
  EXPECT_EQ(LogText(),
            "installed net-1.0\ninstalled net-2.0\n"
            "WARNING: omitting package net-1.0: newer package net-2.0 is already installed\n"
            "installed net-3.0\nERROR: installation of net-4.0 failed: broken package");

  // Unselected, a member of the disabled part starts disabled.
  PackageTree fresh;
  ASSERT_EQ(InstallTestFile(first, AllowUpgrade), kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "net 1.0 on\nppp 1.0 on in:net\npptp 1.0 off in:net\n");
  EXPECT_EQ(ReadTreeFile(fresh.Target("/x/pptp/pptp")), "1.0");
  EXPECT_EQ(ReadTreeFile(fresh.Target("/var/pdb/pptp/disabled")), "auto\n");
  EXPECT_EQ(ReadTreeFile(fresh.Target("/var/pdb/pptp/bundle")), "net\n");
  EXPECT_EQ(LogText(), "installed net-1.0");
}

}  // namespace
