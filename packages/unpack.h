#pragma once

#include <string>

#include "packages/package.h"
#include "packages/roots.h"
#include "streams/part_reader.h"

// Unpacking a package's file archive into the target tree.

// Creates path and its missing ancestors, outermost first, with mode 0770; with skipLast only the
// ancestors. False, printing nothing, on an error other than an existing directory.
bool MakeDirectories(const std::string& path, bool skipLast);

// Unpacks the file archive of the PartFiles part the reader stands on: under the target root, or
// under the current directory for Placement::kWorkingDirectory; a disabled package's entries go
// below
// "/x/" + its name. Adds the installed paths to p.files. Reports a broken package or a creation
// error and returns false at the first failure. Names are resolved inside the tree (see
// tree_paths.h): a ".." component, a link that climbs out of the tree, or a compressed stream that
// does not come to its own end makes the package broken; nothing is ever written outside the tree.
bool UnpackFiles(Package& p, PartReader& reader, Placement placement);
