#pragma once

#include <string>

#include "packages/package.h"
#include "tools/vpk/command_line.h"

// `vpk build` and `vpk build-bundle`: package and bundle files from command-line fields.

// The options that fill the header record of a package or bundle, for ParseArguments.
extern const std::vector<KnownOption> headerOptions;

// `vpk build [OPTIONS] -o OUT [TREE]`: argv[0] is "build". Prints usage or an error and returns
// false on failure; nothing is written at OUT then.
bool BuildCommand(int argc, char** argv);

// `vpk build-bundle [OPTIONS] -o OUT MEMBER...`: argv[0] is "build-bundle". Prints usage or an
// error and returns false on failure; nothing is written at OUT then.
bool BuildBundleCommand(int argc, char** argv);
