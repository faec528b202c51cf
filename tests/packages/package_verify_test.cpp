#include "packages/package_verify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "packages/package_database.h"
#include "packages/package_verify_internal.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"

namespace {

class PackageVerifyTest : public InstallTest {
 protected:
  PackageVerifyTest() { MakeTestDirectories(Dir()); }
  std::string Dir(const std::string& name = "") const { return File("drop/" + name); }

  std::string Write(const std::string& name, TestPackage::Signing signing) {
    TestPackage p(name.substr(0, name.find('.')), "1.0");
    EXPECT_TRUE(
        p.File("/etc/" + name, std::string(5000, 'x')).Image("I").Write(Dir(name), signing));
    return Dir(name);
  }
};

TEST_F(PackageVerifyTest, ScanKeepsTheAuthenticPackageFilesInNameOrder) {
  std::string good = Write("b.vpk", TestPackage::kSigned);
  std::string known = Write("a.vpk", TestPackage::kUnsigned);
  std::string unknown = Write("d.vpk", TestPackage::kUnsigned);
  std::string bytes = ReadWholeTestFile(good);
  ASSERT_TRUE(WriteTestFile(Dir("c.vpk"), bytes.substr(0, bytes.size() - 1)));
  ASSERT_TRUE(WriteTestBundle(Dir("net.bpk"), "net", "1.0", {good, known}));
  ASSERT_TRUE(WriteTestBundle(Dir("mixed.bpk"), "net", "1.0", {good, unknown}));
  Write(".hidden.vpk", TestPackage::kSigned);
  Write("f.vpk.old", TestPackage::kSigned);
  ASSERT_EQ(mkfifo(Dir("e.vpk").c_str(), 0644), 0);  // would block a plain open
  TestDigestTable table(known);
  std::vector<std::unique_ptr<SelectablePackage>> list;
  ScanPackageDirectory(Dir(), list);
  std::string printed = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->name + list[1]->name + list[2]->name, "abnet");
  EXPECT_EQ(list[1]->path, good);
  EXPECT_TRUE(list[1]->hasImage);
  EXPECT_EQ(list[2]->members.size(), 2u);
  EXPECT_EQ(LogText(),
            "verified a.vpk\nverified b.vpk\nERROR: broken package c.vpk\n"
            "ERROR: broken package d.vpk\nERROR: broken package e.vpk\n"
            "ERROR: broken package mixed.bpk\nverified net.bpk");
  EXPECT_EQ(printed.front(), '\n');
  EXPECT_EQ(printed.back(), '\n');
  EXPECT_NE(printed.find("verifying b.vpk ["), std::string::npos);
  EXPECT_FALSE(VerifyPackageFile(Dir("missing.vpk"), "missing.vpk"));
}

}  // namespace
