#pragma once

#include "packages/package.h"

// Removing a package's files and database entry from the target tree. Deletions never report
// errors. Paths are resolved inside the target tree as the installed system will see them, so a
// symbolic link never leads a deletion out of the tree.

// Deletes the entries of p's database directory whose names do not begin with ".", then the
// directory; afterwards deletes "bootimage" at the target root when only one link to its image is
// left (the image went with the package). Nothing happens when the directory cannot be opened or
// p's name would lead out of var/pdb.
void RemovePackageDirectory(const Package& p);

// RemovePackageFiles, RemovePackageDirectory, and clears the scheduled action. The record stays in
// the database.
void RemovePackage(Package& p);
