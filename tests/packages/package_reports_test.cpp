#include "packages/package_reports.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/package_tree.h"

// The user sees the reason of a failed write chosen by errno, with the package's display name.
TEST(PackageReportsTest, WriteFailureNamesTheReasonByErrno) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  const std::string failed = "ERROR: installation of ppp-2.9.5 failed: ";
  struct Case {
    int error;
    std::string line;
  } cases[] = {
      {ENOSPC, failed + "disk is too small"},
      {EIO, failed + "disk error"},
      {EACCES, failed + "could not create meta/deps: Permission denied"},
  };
  PackageDatabase& db = GetPackageDatabase();
  for (const Case& c : cases) {
    db.log.clear();
    errno = c.error;
    EXPECT_EQ(CapturedStdout([&] { ReportWriteFailure(p, "meta/deps"); }), c.line + "\n");
    EXPECT_EQ(db.log, std::vector<std::string>{c.line});
  }
  db.log.clear();
}
