#pragma once

#include "disk/discovery.h"

// The network installation from its first message to its last. Returns true when the software was
// installed, false after a failure (having printed why) or a cancellation.
bool InstallFromNetwork(TargetDisk& target);
