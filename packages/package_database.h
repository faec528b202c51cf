#pragma once

#include <memory>
#include <string>
#include <vector>

#include "packages/package.h"

// The package manager's process-wide state: the installed packages and the reporter's status line
// and message log.
struct PackageDatabase {
  // Installed packages in insertion order, which decides every first match; owned.
  std::vector<std::unique_ptr<Package>> packages;
  // The status line now on the screen; empty when none is shown.
  std::string statusLine;
  // Every message printed, with its prefix, for the post-installation log.
  std::vector<std::string> log;
  // Print and log nothing.
  bool quiet = false;
};

// The process's one database; the first call creates it empty. It lives until the process ends.
PackageDatabase& GetPackageDatabase();
