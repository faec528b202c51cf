#include "packages/package.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageTest, DisplayNamesAndExactDependency) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  EXPECT_EQ(DisplayName(p), "ppp-2.9.5");
  EXPECT_EQ(MemberDisplayName(p), "ppp-2.9.5");
  p.bundle.name = "suite";
  EXPECT_EQ(MemberDisplayName(p), "suite");
  p.bundle.minVersion = MakeVersion(3, 0, 'b', 1);
  EXPECT_EQ(MemberDisplayName(p), "suite-3.0beta1");

  Dependency exact = ExactDependency(p);
  EXPECT_EQ(exact.name, "ppp");
  EXPECT_EQ(exact.minVersion, p.version);
  EXPECT_EQ(exact.maxVersion, p.version);
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

}  // namespace
