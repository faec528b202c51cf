#pragma once

#include <cstdint>
#include <string>

#include "packages/install_decision.h"

// Boot-time installation: the installed system takes in the package files dropped into
// rw/pckg/ of its tree (var/pckg/ as a fallback) and, when asked, those already in the running
// system's /ram/. Works on the process's loaded package database and reports through its
// reporter; saving the post-installation log is the caller's.

// Installs the package files found: a "DOWNGRADE" marker under the system's /rw (deleted on the
// way) adds AllowDowngrade to mode; AcceptInstalled means the files lie in /ram already. First
// it settles what an interrupted run left in /ram, as the record at the tree's root names it:
// such a file is installed (or deleted when its package is installed now), and one that was lost
// with the RAM is reported with "WARNING: the update NAME was lost by an interruption; drop it
// again". The files are verified, the superseded ones dropped (and left in place), the rest
// ordered and put in /ram while the RAM budget lasts: copied while the flash has room for what
// they install, moved (and recorded) when it has not. They are installed one by one, each
// deleted from the flash only once its installation has committed, with the image of an image
// package kept as a hard link; a failed file goes back where it was found.
// Packages the user chose to enable or disable keep that state, and names that were enabled
// before are enabled again. When no package is left installed afterwards, prints
// "ERROR: router installation failed!!!" and "Please, reinstall." (see BootInstallationLost).
// True when some file was tried or something was enabled again.
bool BootInstall(InstallMode mode);

// True when the database is empty after BootInstall: the system must not go on booting.
bool BootInstallationLost();
