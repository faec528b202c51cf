#pragma once

#include "packages/package.h"

// Deletes the entries of p's database directory whose names do not begin with ".", then the
// directory; afterwards deletes "bootimage" at the target root when only one link to its image is
// left (the image went with the package). Nothing happens when the directory cannot be opened or
// p's name would lead out of var/pdb.
void RemovePackageDirectory(const Package& p);
