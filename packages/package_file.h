#pragma once

#include <string>
#include <vector>

#include "packages/package.h"
#include "streams/part_reader.h"

// Reading the header-time parts of a package file (the writing side is vpk's).

// Reads the header part the reader stands on (PartHeader or PartBundleHeader) and the metadata
// parts that follow it in their fixed order, leaving the reader on the first part after them.
// False, printing nothing, when the current part is no header, a header or dependency part is
// short, a text part is longer than kLargestTextPart, or the name is empty, "." or "..", or holds
// a "/" (it names a database directory).
bool ReadPackageHeader(PackageInfo& info, PartReader& reader);

// Appends the dependency records of the current part to out without advancing; false on a short
// part.
bool ReadDependencyPart(PartReader& reader, std::vector<Dependency>& out);

// Opens the package or bundle file at path and reads its header (and a bundle's member headers)
// into p. False for a file that cannot be read, whose size differs from its container header, with
// a broken header, or a bundle without members. Verifies no digest or signature.
bool OpenPackageFile(SelectablePackage& p, const std::string& path);
