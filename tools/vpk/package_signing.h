#pragma once

#include <cstdint>
#include <string>

#include "streams/signature_check.h"
#include "tools/vpk/signer.h"

// Signing of finished package files. The digest that a signature covers is the one a reader
// computes: SHA-1 of everything from the package's PartHeader header through the 6-byte header
// of its PartSignature, so the signature part is appended to the finished file.

// The digest of the single package at path as it will be signed, computed over its bytes and the
// header of a 68-byte signature part. Prints an error and returns false when the file is not a
// complete single package (see CheckSinglePackage) or already carries a signature.
bool SigningDigest(const std::string& path, std::uint8_t digest[kDigestSize]);

// Appends a PartSignature made with privateKey to the single package at path and updates the
// container header. Prints an error and returns false, leaving the file unchanged, when
// SigningDigest refuses, the package would grow beyond 4 GiB, or the file cannot be written.
bool SignPackageFile(const std::string& path, const std::uint8_t privateKey[kPrivateKeySize]);

// Warns on stderr when privateKey is not the key of the package key built into this program:
// its signatures would be refused here. Returns whether the keys match.
bool MatchesBuiltInKey(const std::uint8_t privateKey[kPrivateKeySize], const char* keyPath);
