#pragma once

#include <string>

#include "packages/package.h"
#include "packages/roots.h"
#include "packages/staging.h"
#include "streams/part_reader.h"

// Unpacking a package's file archive into the target tree.

// Unpacks the file archive of the PartFiles part the reader stands on into the staging area:
// every entry waits there under a temporary name until PlaceUnpackedFiles (place_staged.h); nothing
// is made in the tree. The entries go under the staging's tree root (the target root or the working
// directory, whose recorded paths begin with "."); a disabled package's entries go below
// "/x/" + its name. Reports a broken package or a creation error and returns false at the first
// failure: a ".." component, a link that climbs out of the tree, a directory standing where a
// non-directory entry goes, a component longer than a file name may be, or a compressed stream
// that does not come to its own end.
bool UnpackFiles(Package& p, PartReader& reader, Staging& staging);
