#include "packages/package_verify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "packages/package_database.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"
#include "tests/support/package_tree.h"

namespace {

class PackageVerifyTest : public testing::Test {
 protected:
  std::string Dir(const std::string& name = "") const { return tree.Base() + "/drop/" + name; }

  std::string Write(const std::string& name, TestPackage::Signing signing, const char* version) {
    TestPackage p(name.substr(0, name.find('.')), version);
    p.File("/etc/" + name, std::string(5000, 'x')).Image("IMAGE");
    EXPECT_TRUE(p.Write(Dir(name), signing));
    return Dir(name);
  }

  PackageTree tree;
  PackageVerifyTest() { MakeTestDirectories(Dir()); }
};

TEST_F(PackageVerifyTest, AcceptsSignedAndKnownPackagesOnly) {
  std::string good = Write("good.vpk", TestPackage::kSigned, "1.0");
  std::string known = Write("known.vpk", TestPackage::kUnsigned, "1.0");
  std::string unknown = Write("unknown.vpk", TestPackage::kUnsigned, "1.0");
  std::string bytes = ReadWholeTestFile(good);
  ASSERT_TRUE(WriteTestFile(Dir("cut.vpk"), bytes.substr(0, bytes.size() - 1)));
  ASSERT_TRUE(WriteTestBundle(Dir("net.bpk"), "net", "1.0", {good, known}));
  ASSERT_TRUE(WriteTestBundle(Dir("mixed.bpk"), "net", "1.0", {good, unknown}));
  TestDigestTable table({known});
  struct Case {
    const char* name;
    bool verified;
  } cases[] = {{"good.vpk", true}, {"known.vpk", true},  {"unknown.vpk", false}, {"cut.vpk", false},
               {"net.bpk", true},  {"mixed.bpk", false}, {"missing.vpk", false}};
  testing::internal::CaptureStdout();
  std::string expected;
  for (const Case& c : cases) {
    EXPECT_EQ(VerifyPackageFile(Dir(c.name), c.name), c.verified) << c.name;
    expected += (expected.empty() ? "" : "\n") +
                std::string(c.verified ? "verified " : "ERROR: broken package ") + c.name;
  }
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(LogText(), expected);
  EXPECT_NE(output.find("verifying good.vpk ["), std::string::npos);
}

TEST_F(PackageVerifyTest, ScanCollectsTheGoodPackageFilesInNameOrder) {
  Write("b.vpk", TestPackage::kSigned, "2.0");
  std::string a = Write("a.vpk", TestPackage::kSigned, "1.0");
  ASSERT_TRUE(WriteTestBundle(Dir("net.bpk"), "net", "1.0", {a}));
  Write(".hidden.vpk", TestPackage::kSigned, "1.0");
  Write("c.vpk.old", TestPackage::kSigned, "1.0");
  Write("d.vpk", TestPackage::kUnsigned, "1.0");
  ASSERT_EQ(mkfifo(Dir("e.vpk").c_str(), 0644), 0);  // would block a plain open
  std::vector<std::unique_ptr<SelectablePackage>> list;
  testing::internal::CaptureStdout();
  ScanPackageDirectory(Dir(), list);
  std::string output = testing::internal::GetCapturedStdout();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->name + list[1]->name + list[2]->name, "abnet");
  EXPECT_EQ(list[0]->path, Dir("a.vpk"));
  EXPECT_TRUE(list[0]->hasImage);
  EXPECT_EQ(list[2]->members.size(), 1u);
  EXPECT_EQ(LogText(),
            "verified a.vpk\nverified b.vpk\nERROR: broken package d.vpk\n"
            "ERROR: broken package e.vpk\nverified net.bpk");
  EXPECT_EQ(output.front(), '\n');
  EXPECT_EQ(output.back(), '\n');

  GetPackageDatabase().log.clear();
  ScanPackageDirectory(tree.Base() + "/none", list);
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(LogText(), "");
}

}  // namespace
