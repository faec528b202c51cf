#pragma once

#include "disk/discovery.h"

// The hard-disk installation from its first message to its last. Returns true when the software was
// installed, false after a failure (having printed why) or a cancellation.
bool InstallFromHardDisk(TargetDisk& target);
