#pragma once

#include <memory>
#include <string>
#include <vector>

#include "packages/package.h"
#include "streams/part_reader.h"

// Checking package files on disk without installing them, and collecting the valid package files
// of a directory. Reports through the reporter of the process's package database.

// Moves to the first part and, when it is a bundle header, past it and an image part that follows;
// returns the type of the part that should then be the first package's header. Sets bundle.
int FirstPackagePart(PartReader& reader, bool& bundle);

// Appends a record for each package file of directory (a name ending in ".vpk" or ".bpk", not
// beginning with ".") that is a regular file, verifies and opens; the others are reported as
// broken and skipped. Files are taken in name order, with an empty line before the first and
// after the last. Nothing happens when the directory cannot be opened.
void ScanPackageDirectory(const std::string& directory,
                          std::vector<std::unique_ptr<SelectablePackage>>& list);
