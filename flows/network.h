#pragma once

#include "disk/discovery.h"
#include "flows/installer_child.h"
#include "net/session.h"

// The network installation from its first message to its last. Returns true when the software was
// installed and the farewell is over, false after a failure (having printed why).
bool InstallFromNetwork(TargetDisk& target);

// How one package file from the server went.
enum class Received {
  kInstalled,     // the whole file reached the installer child, which installed it
  kNotInstalled,  // the whole file reached the child, which reported it not installed
  kFailed,        // the transfer failed; its message has been printed
};

// Feeds the session's current file to a new installer child until the file ends. kFailed, after
// its message, when the child cannot be started, the data stopped coming ("bad network
// connection") or the child took no more (an empty line).
Received ReceivePackages(NetSession& session, InstallerChildOptions options);
