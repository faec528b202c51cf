#include "packages/package_reports.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/package_tree.h"

// A failed write by an input/output error (other reasons: see the unpacking and the database).
TEST(PackageReportsTest, WriteFailureNamesTheReasonByErrno) {
  PackageTree tree;
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  errno = EIO;
  const std::string line = "ERROR: installation of ppp-2.9.5 failed: disk error";
  EXPECT_EQ(CapturedStdout([&] { ReportWriteFailure(p, "meta/deps"); }), line + "\n");
  EXPECT_EQ(GetPackageDatabase().log, std::vector<std::string>{line});
}
