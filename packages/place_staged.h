#pragma once

#include "packages/package.h"
#include "packages/staging.h"

// Placing what UnpackFiles staged, once the package has been verified.

// Moves the staged entries into their places in archive order, makes the directories (keeping
// an existing one as it is) and adds each placed path to p.files. Names are resolved inside the
// tree when they are placed (see tree_paths.h), so nothing is ever written outside it. Reports
// and returns false at the first failure; what was placed stays listed in p.files.
bool PlaceUnpackedFiles(Package& p, Staging& staging);
