#pragma once

#include <istream>
#include <streambuf>
#include <string>

#include "packages/install_decision.h"
#include "packages/package.h"
#include "packages/roots.h"
#include "streams/part_reader.h"

// Installing one package from a package byte stream into the target tree: the decision, the
// replacement of the installed package of the same name, the contents, the authenticity check,
// the database entry and the install script. Everything works on the process's package database
// and reports through the reporter.

// What InstallPackageFromStream hands back to a caller besides the package.
struct InstallOutputs {
  std::string* imageDirectory = nullptr;  // receives the package directory of a package with image
  bool* bootImage = nullptr;              // receives whether the package carries the boot image
};

// Installs the package whose header part the reader stands on. mode and selection are the
// caller's; bundle, when not null, makes the package a member of that bundle (decided silently;
// a refused member is passed over up to the next header part). A conflicting package is
// installed disabled. An older or newer installed package of the same name is removed once the
// dependency rules saw the new one in its place. Returns the installed record (owned by the
// database), the record already installed when a same version is accepted or a member is
// refused, or null when the package was refused or its installation failed (reported).
Package* InstallPackageFromStream(PartReader& reader, InstallMode mode, const Selection& selection,
                                  const Dependency* bundle, const InstallOutputs& outputs);

// Installs the parts after the header of p: image (passed over), install and uninstall scripts,
// file archive, then checks the signature or the known digest, writes the database entry,
// creates "UPGRADED" at the target root for a boot-image package, and runs "oninstall" unless p
// is disabled. Placement::kWorkingDirectory selects the relative forms of the paths and turns
// the boot-image handling off. Any failure removes what was written of p and returns false
// (reported).
bool InstallPackageContents(Package& p, PartReader& reader, Placement placement);

// Checks the authenticity of the package whose parts the reader has passed: the signature part it
// stands on must verify, or, without one, the package's digest must pass the database's
// knownDigestCheck.
bool PackageIsAuthentic(PartReader& reader);

// Drops a digest finished before the current package began (the reader finishes one before each
// package header), so that only the package's own digest can be taken for it.
void ForgetEarlierDigest(PartReader& reader);

// Clears the status line as the installation does before its closing message: a line of 78
// blanks, then the empty text.
void ClearStatusLine();
