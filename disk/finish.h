#pragma once

#include "disk/discovery.h"

// Finishes the new system mounted at "/flash": runs its post-install script (or "/bin/varo")
// inside it, creates the licence marker "/flash/SHOW_LICENSE", syncs, unmounts "/flash/boot",
// checks the root file system read-only in the single-partition layout, and unmounts "/flash".
// Reports nothing; the tools write to the log terminal.
void FinishInstalledSystem(const TargetDisk& target);
