#pragma once

#include "disk/discovery.h"
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

// How the installer child takes one file: keepImage and quiet as InstallerChildMain has them.
struct ChildOptions {
  bool keepImage = false;  // the package's image is kept; without it the package is unpacked
  bool quiet = false;      // its package database is loaded without a word
};

// Feeds the session's current file to a new installer child until the file ends. kFailed, after
// its message, when the child cannot be started, the data stopped coming ("bad network
// connection") or the child took no more (an empty line).
Received ReceivePackages(NetSession& session, ChildOptions options);
