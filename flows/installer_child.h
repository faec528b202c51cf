#pragma once

#include <string>
#include <vector>

#include "platform/child_process.h"

// The installer child: a fresh process per package file that reads the file's bytes from a pipe
// and installs them into the target tree with the package manager. The flow writes the bytes into
// the stream StartInstallerChild returns and ends the child with EndInstallerChild. The child's
// exit status tells whether its package was installed.

// How an installer child installs the bytes it reads.
struct InstallerChildOptions {
  // Keeps the bytes as the package's image in the target tree; else unpacks them into the
  // running system.
  bool keepImage = true;
  bool quiet = false;  // loads the package database without its messages
};

// Starts an installer child running InstallerChildMain(options). Returns it with a buffered
// stream on the pipe to its standard input; not open when the pipe, the child or the stream could
// not be made.
PipedChild StartInstallerChild(InstallerChildOptions options);

// Closes the child's stream and waits for it. True when the child ended with status 0: it
// installed the package it read.
bool EndInstallerChild(PipedChild& child);

// The child's body: takes the target tree's lock (refused with "ERROR: TREE is in use by process
// N" while another writer holds it), loads its package database (silently when quiet) and
// installs the package byte stream of standard input. keepImage keeps the bytes as the package's
// image in its database directory (and as "bootimage" for a boot-image package). Returns false,
// after the package manager's or its own message, when the package (or any member of a bundle) was
// not installed or its image could not be kept; the child exits with 1 then.
bool InstallerChildMain(InstallerChildOptions options);

// The packages one installation handed to installer children, and those that were not installed.
struct InstallTally {
  size_t handed = 0;
  std::vector<std::string> notInstalled;
};

// Counts one package handed to a child; its name joins the failed ones unless it was installed.
void CountInstallation(InstallTally& tally, const std::string& name, bool installed);

// True when every package handed over was installed. Otherwise prints
// "\nFATAL ERROR: N of M packages were not installed: a, b" and returns false.
bool AllInstalled(const InstallTally& tally);
