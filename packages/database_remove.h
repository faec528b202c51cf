#pragma once

#include "packages/package.h"

// Removing a package's files and database entry from the target tree. Deletions never report
// errors. Paths are resolved inside the target tree as the installed system will see them, so a
// symbolic link never leads a deletion out of the tree.

// RemovePackageFiles, RemovePackageDirectory, and clears the scheduled action. The record stays in
// the database.
void RemovePackage(Package& p);
