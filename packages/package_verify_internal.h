#pragma once

#include <string>

// Reads the package or bundle file at path as an installation would, showing the progress as
// "verifying " + name: every package in it must carry a verifying signature or a known digest.
// Reports "verified <name>" and returns true, or the error "broken package <name>" and false.
bool VerifyPackageFile(const std::string& path, const std::string& name);
