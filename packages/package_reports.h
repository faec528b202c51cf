#pragma once

#include <string>

#include "packages/package.h"

// The installation errors that unpacking and the database share, each naming the package by its
// MemberDisplayName through the reporter.

// Reports the failed creation or write of item by the current errno: "disk is too small" for a
// full disk, "disk error" for an input/output error, else "could not create <item>: <reason>".
void ReportWriteFailure(const Package& p, const std::string& item);

// Reports "installation of <package> failed: broken package", or the write failure of the copy
// of the package's bytes when one failed (PackageDatabase::copyWriteError) and stopped the reader.
void ReportBrokenPackage(const Package& p);

// The two reports above, returning false for a step that fails with them.
inline bool Broken(const Package& p) {
  ReportBrokenPackage(p);
  return false;
}

inline bool WriteFailed(const Package& p, const std::string& item) {
  ReportWriteFailure(p, item);
  return false;
}
