#pragma once

#include <cstdint>
#include <string>

#include "packages/package.h"
#include "packages/roots.h"
#include "streams/part_reader.h"

// Package scripts: stored in the package's database directory behind a preamble that loads the
// installed system's install profile, and run inside the target tree.

// Writes the script part the reader stands on (length bytes) to the package directory (in the
// form the placement selects) + name, as "#!/bin/bash\n\n. /vela/lib/install/profile.sh\n\n" and
// the content, mode 0755. A short part is reported as a broken package (and no file is left); a
// failed write or chmod with ReportWriteFailure naming the script. False on either.
bool WritePackageScript(const Package& p, PartReader& reader, std::uint32_t length,
                        const std::string& name, Placement placement);

// Runs the stored script name of p with bash inside the target tree (chroot), its output
// discarded, and waits for it. True when the script does not exist or ends with status 0;
// otherwise warns "package <name-version> <script> script failed" and returns false.
bool RunPackageScript(const Package& p, const std::string& name);
