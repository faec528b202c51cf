#pragma once

#include <istream>
#include <streambuf>

#include "packages/install_decision.h"
#include "packages/install_package.h"

// Installing whatever a package byte stream holds: a single package or a bundle.

// Installs the package or bundle in input. copy, when not null, receives every byte read.
// Returns 0 on success, 1 when a single package was not installed or a bundle's header or entry
// failed, 2 when a bundle was refused and 3 when none of a bundle's members was installed.
int InstallFromStream(std::istream& input, InstallMode mode, const Selection& selection,
                      std::streambuf* copy, const InstallOutputs& outputs);
