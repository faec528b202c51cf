#pragma once

#include <string>

#include "packages/package.h"

// Applies one parsed header option (name, version, build-time, depends, provides, conflicts,
// arch, description, flags) to info; sets *flagsWord for flags. Returns false with a message when
// the value cannot be stored, and for an option that is not a header option.
bool ApplyHeaderOption(const std::string& option, const std::string& value, PackageInfo* info,
                       bool* flagsWord);

// Reads a provides entry: a dependency, optionally followed by ":" and a signed priority
// ("mailer:10", "smtpd>=2.0:-1"). Prints an error and returns false when it cannot be stored.
bool ParseProvides(const std::string& text, Dependency* entry);
