#pragma once

#include <cstdint>
#include <string>

#include "packages/package.h"
#include "packages/roots.h"
#include "streams/part_reader.h"

// Package scripts: stored in the package's database directory behind a preamble that loads the
// installed system's install profile, and run inside the target tree.

// Reads the script part the reader stands on (length bytes) into text, behind the preamble
// "#!/bin/bash\n\n. /vela/lib/install/profile.sh\n\n". A short part is reported as a broken
// package and returns false.
bool ReadPackageScript(const Package& p, PartReader& reader, std::uint32_t length,
                       std::string& text);

// Writes text to path with mode 0755. A failed write or chmod is reported with
// ReportWriteFailure naming the script (the last component of path) and returns false.
bool WritePackageScript(const Package& p, const std::string& path, const std::string& text);

// Runs the stored script name of p with bash inside the target tree (chroot), its output
// discarded, and waits for it. True when the script does not exist or ends with status 0;
// otherwise warns "package <name-version> <script> script failed" and returns false.
bool RunPackageScript(const Package& p, const std::string& name);
