#pragma once

#include <string>
#include <vector>

#include "packages/package.h"

// Writing of bundle files: a bundle header part (PartBundleHeader) with the header-time parts of
// the bundle record, optionally an image part, a PartBundleMembers list, and then the member
// packages, each copied from its own package file as it is, from its PartHeader part on. A
// member's signature therefore stays valid inside the bundle.

struct BundleContents {
  std::vector<std::string> memberFiles;      // package files of the members, in bundle order
  std::vector<std::string> disabledMembers;  // members installed disabled unless selected
  std::string image;                         // file whose bytes form the image part; empty: none
  bool flagsWord = false;                    // a bundle header of 36 bytes with bundle.flags
  bool unrecorded = false;                   // the unrecorded container magic
};

// Writes the bundle file at path under a temporary name, renamed at the end. Refuses, with a
// message and before writing, a bundle without members, a member file that is not a complete
// single package or whose container kind (recorded or not) differs from the bundle's, two
// members of one name, and a disabled name that is not a member's.
bool WriteBundleFile(const std::string& path, const PackageInfo& bundle,
                     const BundleContents& contents);
