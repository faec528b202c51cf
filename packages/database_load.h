#pragma once

#include <string>

#include "packages/package.h"

// Loading the package database of the target tree into the process's PackageDatabase. Damaged
// metadata never stops a load: the package stays and is scheduled for uninstallation.

// How LoadDatabase loads.
struct LoadOptions {
  bool quiet = false;            // the database's quiet flag
  bool consumeSchedules = true;  // false: schedule files are read but left in place
};

// Sets the database's quiet flag, adds the packages stored as images (in var/pdb's package
// directories, then in the running system's /rw/pckg/.images/) and then every package directory
// of var/pdb, in name order. Runs once, on an empty database. Without var/pdb it warns "could not
// open repo", loads nothing and returns false. Without consumeSchedules the one-shot schedule
// files are read but left in place (for listing a tree without acting on it).
bool LoadDatabase(LoadOptions options);
