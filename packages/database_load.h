#pragma once

#include <string>

#include "packages/package.h"

// Loading the package database of the target tree into the process's PackageDatabase. Damaged
// metadata never stops a load: the package stays and is scheduled for uninstallation.

// Sets the database's quiet flag, adds the packages stored as images (in var/pdb's package
// directories, then in the running system's /rw/pckg/.images/) and then every package directory
// of var/pdb, in name order. Runs once, on an empty database. Without var/pdb it warns "could not
// open repo", loads nothing and returns false. With consumeSchedules false the one-shot schedule
// files are read but left in place (for listing a tree without acting on it).
bool LoadDatabase(bool quiet, bool consumeSchedules = true);

// Adds the packages of the package files in directory: for each entry not beginning with ".",
// directory + entry when fromImageDirectory, else the entry's package directory + "image". A
// bundle adds its members (each referring to the bundle) and then itself. An image that cannot be
// opened or whose headers are broken adds nothing. False when directory cannot be opened.
bool ScanImages(const std::string& directory, bool fromImageDirectory);

// Reads p's metadata files when p's version is 0 (a failure schedules p for uninstallation), its
// enabled/disabled state, and the one-shot schedule word under the running system's /ram/pdb/,
// whose file is deleted afterwards unless consumeSchedule is false.
void LoadPackageState(Package& p, bool consumeSchedule = true);
