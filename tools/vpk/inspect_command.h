#pragma once

#include <cstdio>
#include <string>

// `vpk inspect`: everything a package or bundle file holds, read as hostile input.

// Writes to out the container header, every part with its offset, type and length, and for each
// package (a bundle's header and each member): the header fields, architecture, description,
// dependencies, provides and conflicts with their version text, the sizes of image and scripts,
// the file list, the digest and whether a signature is present and verifies. Returns false when
// the file cannot be opened or is not a part container (with a message on stderr), or when a part
// is damaged (said in the output, after everything that could be shown).
bool InspectPackageFile(const std::string& path, std::FILE* out);

// `vpk inspect FILE`: argv[0] is "inspect". Prints usage or an error and returns false on failure.
bool InspectCommand(int argc, char** argv);
