#pragma once

#include <string>

#include "packages/package.h"
#include "tools/vpk/command_line.h"

// `vpk build` and `vpk build-bundle`: package and bundle files from command-line fields.

// The options that fill the header record of a package or bundle, for ParseArguments.
extern const std::vector<KnownOption> headerOptions;

// Applies one parsed header option (name, version, build-time, depends, provides, conflicts,
// arch, description, flags) to info; sets *flagsWord for flags. Returns false with a message when
// the value cannot be stored, and for an option that is not a header option.
bool ApplyHeaderOption(const std::string& option, const std::string& value, PackageInfo* info,
                       bool* flagsWord);

// Reads a provides entry: a dependency, optionally followed by ":" and a signed priority
// ("mailer:10", "smtpd>=2.0:-1"). Prints an error and returns false when it cannot be stored.
bool ParseProvides(const std::string& text, Dependency* entry);

// `vpk build [OPTIONS] -o OUT [TREE]`: argv[0] is "build". Prints usage or an error and returns
// false on failure; nothing is written at OUT then.
bool BuildCommand(int argc, char** argv);

// `vpk build-bundle [OPTIONS] -o OUT MEMBER...`: argv[0] is "build-bundle". Prints usage or an
// error and returns false on failure; nothing is written at OUT then.
bool BuildBundleCommand(int argc, char** argv);
