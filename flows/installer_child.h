#pragma once

#include <cstdio>

// The installer child: a fresh process per package file that reads the file's bytes from a pipe
// and installs them into the target tree with the package manager. The flow writes the bytes into
// the stream StartInstallerChild returns and ends the child with ClosePipedChild (disk/tools.h).

// Starts an installer child running InstallerChildMain(keepImage, quiet) and records it in
// childPid. Returns a buffered stream on the pipe to its standard input, or null when a piped
// child exists already or the pipe, the child or the stream could not be made.
FILE* StartInstallerChild(bool keepImage, bool quiet);

// The child's body: loads the package database of the target tree (silently when quiet) and
// installs the package byte stream of standard input. keepImage keeps the bytes as the package's
// image in its database directory (and as "bootimage" for a boot-image package); without it the
// package is unpacked into the running system. Failures are reported by the messages only.
void InstallerChildMain(bool keepImage, bool quiet);
