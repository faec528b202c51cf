#pragma once

#include "disk/discovery.h"

// Finishes the new system mounted at the target root: runs its post-install script (or
// "/bin/varo") inside it, creates its licence marker "/SHOW_LICENSE", syncs, unmounts its /boot,
// checks the root file system read-only in the single-partition layout, and unmounts the root.
// Reports nothing; the tools write to the log terminal.
void FinishInstalledSystem(const TargetDisk& target);
