#include "packages/package.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "packages/package_database.h"

namespace {

TEST(PackageTest, DisplayNames) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  EXPECT_EQ(DisplayName(p), "ppp-2.9.5");
  EXPECT_EQ(MemberDisplayName(p), "ppp-2.9.5");
  p.bundle.name = "suite";
  EXPECT_EQ(MemberDisplayName(p), "suite");
  p.bundle.minVersion = MakeVersion(3, 0, 'b', 1);
  EXPECT_EQ(MemberDisplayName(p), "suite-3.0beta1");
}

TEST(PackageTest, ExactDependencyAdmitsOnlyThatVersion) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  p.provides = {{"x", 1, 2, 7}};
  Dependency d = ExactDependency(p);
  EXPECT_EQ(d.name, "ppp");
  EXPECT_EQ(d.minVersion, p.version);
  EXPECT_EQ(d.maxVersion, p.version);
  EXPECT_EQ(d.priority, 0);
}

TEST(PackageTest, NewPackageIsEmpty) {
  Package p("ppp");
  EXPECT_EQ(p.version, 0u);
  EXPECT_EQ(p.architecture, "");
  EXPECT_TRUE(p.files.empty() && p.members.empty() && p.dependencies.empty());
  EXPECT_FALSE(p.disabled || p.userForced || p.noFileList || p.hasImage);
  EXPECT_EQ(p.scheduledAction, 0u);
}

TEST(PackageTest, DumpListsStateDependenciesAndSortedFiles) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  p.disabled = true;
  p.userForced = true;
  p.dependencies = {{"system", MakeVersion(2, 9, 'c', 1), MakeVersion(3, 0, 'f', 0)}};
  p.files = {"/usr/sbin/pppd", "/etc/ppp", "/Z"};
  testing::internal::CaptureStdout();
  DumpPackage(p);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "package <ppp>\n"
            " version=2.9.5\n"
            "   disabled\n"
            "   user-forced\n"
            "  deps=\n"
            "    <system> min=2.9rc1 max=3.0\n"
            "  files=\n"
            "    /Z\n"
            "    /etc/ppp\n"
            "    /usr/sbin/pppd\n");
}

TEST(PackageDatabaseTest, OneDatabasePerProcess) {
  EXPECT_EQ(&GetPackageDatabase(), &GetPackageDatabase());
}

}  // namespace
