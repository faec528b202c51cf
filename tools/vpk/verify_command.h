#pragma once

#include <cstdint>
#include <string>

#include "packages/known_package_digests.h"

// The acceptance check of package files, as the installer makes it when it installs them: each
// package (the single package of the file, or every member of a bundle) must end in a signature
// part that verifies against the built-in package key or, when it has none, have a digest that
// is in the built-in table of known digests.

// Decides whether the digest of an unsigned package is known.
using DigestLookup = bool (*)(const std::uint8_t digest[kDigestSize]);

// Checks the package file at path, looking the digests of unsigned packages up with isKnown.
// Returns whether it is accepted; verdict says why, in a few words (for a bundle, per member).
// Prints nothing.
bool CheckPackageFile(const std::string& path, std::string* verdict,
                      DigestLookup isKnown = IsKnownPackageDigest);

// `vpk verify FILE...`: argv[0] is "verify". Prints one line per file, "FILE: accepted (...)" or
// "FILE: refused (...)", and returns true only when every file is accepted.
bool VerifyCommand(int argc, char** argv);
