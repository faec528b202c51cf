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

TEST_F(InstallBundleTest, MembersOfThePartStartDisabledUnlessSelected) {
  std::string bundle = Bundle("1.0", {Package("ppp", "1.0"), Package("pptp", "1.0")}, {"pptp"});
  ASSERT_EQ(InstallTestFile(bundle, AllowUpgrade), kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "net 1.0 on\nppp 1.0 on in:net\npptp 1.0 off in:net\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/x/pptp/pptp")), "1.0");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/pptp/disabled")), "auto\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/pptp/bundle")), "net\n");
  EXPECT_EQ(LogText(), "installed net-1.0");

  PackageTree selected;
  ASSERT_EQ(InstallTestFile(bundle, AllowUpgrade, {{"pptp", false}}), kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "net 1.0 on\nppp 1.0 on in:net\npptp 1.0 on in:net\n");
  EXPECT_EQ(ReadTreeFile(selected.Target("/var/pdb/pptp/enabled")), "user\n");
}

TEST_F(InstallBundleTest, NewVersionReplacesTheBundleAndDropsWhatItNoLongerBrings) {
  ASSERT_EQ(
      InstallTestFile(Bundle("1.0", {Package("ppp", "1.0"), Package("pptp", "1.0")}), AllowUpgrade),
      kBundleInstalled);
  ASSERT_EQ(
      InstallTestFile(Bundle("2.0", {Package("ppp", "2.0"), Package("l2tp", "2.0")}), AllowUpgrade),
      kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "net 2.0 on\nppp 2.0 on in:net\nl2tp 2.0 on in:net\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/ppp")), "2.0");
  EXPECT_FALSE(PathExists(tree.Target("/pptp")));
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/pptp")));
  EXPECT_EQ(LogText(), "installed net-1.0\ninstalled net-2.0");
}

TEST_F(InstallBundleTest, RefusedOrEmptyBundlesChangeNothing) {
  std::string older = Bundle("1.0", {Package("ppp", "1.0")});
  ASSERT_EQ(InstallTestFile(Bundle("2.0", {Package("ppp", "2.0")}), AllowUpgrade), 0);
  EXPECT_EQ(InstallTestFile(older, AllowUpgrade), kBundleRefused);
  TestPackage l2tp("l2tp", "1.0");
  ASSERT_TRUE(l2tp.File("/l2tp", "x").Write(File("unsigned.vpk")));
  EXPECT_EQ(InstallTestFile(Bundle("3.0", {File("unsigned.vpk")}), AllowUpgrade), kBundleEmpty);
  EXPECT_EQ(LogText(),
            "installed net-2.0\n"
            "WARNING: omitting package net-1.0: newer package net-2.0 is already installed\n"
            "ERROR: installation of net-3.0 failed: broken package");
  // The empty bundle's record replaced the old one; its members stay, and no stand-in record of
  // the members part is left behind.
  EXPECT_EQ(InstalledStates(), "ppp 2.0 on in:net\nnet 3.0 on\n");
}

// A bundle cut short after its first member used to uninstall every earlier member that it had
// not reached, although the bundle still brings them.
TEST_F(InstallBundleTest, BundleCutShortKeepsTheMembersItDidNotReach) {
  ASSERT_EQ(
      InstallTestFile(Bundle("1.0", {Package("ppp", "1.0"), Package("pptp", "1.0")}), AllowUpgrade),
      kBundleInstalled);
  std::string second = Package("pptp", "2.0");
  std::string whole = ReadWholeTestFile(Bundle("2.0", {Package("ppp", "2.0"), second}));
  // The second member's parts are everything of its file after the container header.
  std::string cut = whole.substr(0, whole.size() - (ReadWholeTestFile(second).size() - 8));
  ASSERT_TRUE(WriteTestFile(File("cut.bpk"), cut));
  EXPECT_EQ(InstallTestFile(File("cut.bpk"), AllowUpgrade), kBundleInstalled);
  EXPECT_EQ(InstalledStates(), "pptp 1.0 on in:net\nnet 2.0 on\nppp 2.0 on in:net\n");
}

// A member header that cannot be read leaves the reader on it: the bundle must not try it again
// for ever.
TEST_F(InstallBundleTest, UnreadableMemberHeaderEndsTheBundle) {
  TestPackage dots("x", "1.0");
  dots.Info().name = "..";
  ASSERT_TRUE(dots.Write(File("dots.vpk"), TestPackage::kSigned));
  EXPECT_EQ(InstallTestFile(Bundle("1.0", {File("dots.vpk")}), AllowUpgrade), kBundleEmpty);
  EXPECT_EQ(InstalledStates(), "net 1.0 on\n");
}

}  // namespace
