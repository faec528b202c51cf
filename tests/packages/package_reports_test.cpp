#include "packages/package_reports.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "packages/package_database.h"

// The user sees the reason of a failed write chosen by errno, with the package's display name.
TEST(PackageReportsTest, WriteFailureNamesTheReasonByErrno) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  struct Case {
    int error;
    const char* line;
  } cases[] = {
      {ENOSPC, "ERROR: installation of ppp-2.9.5 failed: disk is too small"},
      {EIO, "ERROR: installation of ppp-2.9.5 failed: disk error"},
      {EACCES,
       "ERROR: installation of ppp-2.9.5 failed: could not create meta/deps: Permission denied"},
  };
  PackageDatabase& db = GetPackageDatabase();
  for (const Case& c : cases) {
    db.log.clear();
    testing::internal::CaptureStdout();
    errno = c.error;
    ReportWriteFailure(p, "meta/deps");
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(db.log.size(), 1u);
    EXPECT_EQ(db.log[0], c.line);
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
  }
  db.log.clear();
}
