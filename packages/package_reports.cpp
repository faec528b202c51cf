#include "packages/package_reports.h"

#include <cerrno>
#include <cstring>

#include "packages/reporter.h"

void ReportWriteFailure(const Package& p, const std::string& item) {
  int error = errno;
  std::string name = MemberDisplayName(p);
  PackageDatabase& db = GetPackageDatabase();
  if (error == ENOSPC) {
    ReportError(db, "installation of %s failed: disk is too small", name.c_str());
  } else if (error == EIO) {
    ReportError(db, "installation of %s failed: disk error", name.c_str());
  } else {
    ReportError(db, "installation of %s failed: could not create %s: %s", name.c_str(),
                item.c_str(), strerror(error));
  }
}

void ReportBrokenPackage(const Package& p) {
  if (GetPackageDatabase().copyWriteError != 0) {
    errno = GetPackageDatabase().copyWriteError;  // the bytes were whole; their copy was not
    ReportWriteFailure(p, "the package image");
    return;
  }
  ReportError(GetPackageDatabase(), "installation of %s failed: broken package",
              MemberDisplayName(p).c_str());
}
