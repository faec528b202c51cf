#include "packages/package_reports.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/package_tree.h"

// The user sees the reason of a failed write chosen by errno, with the package's display name.
TEST(PackageReportsTest, WriteFailureNamesTheReasonByErrno) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  const std::pair<int, std::string> cases[] = {
      {ENOSPC, "disk is too small"},
      {EIO, "disk error"},
      {EACCES, "could not create meta/deps: Permission denied"}};
  for (const auto& [error, reason] : cases) {
    PackageTree tree;
    errno = error;
    std::string line = "ERROR: installation of ppp-2.9.5 failed: " + reason;
    EXPECT_EQ(CapturedStdout([&] { ReportWriteFailure(p, "meta/deps"); }), line + "\n");
    EXPECT_EQ(GetPackageDatabase().log, std::vector<std::string>{line});
  }
}
