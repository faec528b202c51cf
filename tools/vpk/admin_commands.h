#pragma once

// vpk's administration of a target tree: installing package files, the one-shot requests to
// uninstall, enable or disable packages, the boot-time installation and the purge of packages
// made for older systems. Each command takes --root DIR (the tree, default /flash), which must
// exist (a missing one is refused, never created), and --system-root DIR (the running system's
// root, default /); argv[0] is the command's name. Messages go to standard output through the
// package manager's reporter and are saved in the tree's post-installation log.

// The exit status of `vpk boot-install` when no package is left installed: the system must not
// go on booting.
constexpr int kSystemLostExitStatus = 3;

// `vpk install [MODES] FILE...`: installs each package or bundle file in order. True when every
// file was installed (or, with --accept-installed, found installed).
bool InstallCommand(int argc, char** argv);

// `vpk uninstall|enable|disable NAME...`: schedules the action for each installed package and
// carries the schedule out. True when every named package ended as asked.
bool UninstallCommand(int argc, char** argv);
bool EnableCommand(int argc, char** argv);
bool DisableCommand(int argc, char** argv);

// `vpk boot-install [MODES]`: the boot-time installation. Returns the exit status: 0, 1 for
// wrong arguments, kSystemLostExitStatus when no package is left installed.
int BootInstallCommand(int argc, char** argv);

// `vpk purge-incompatible`: uninstalls the packages made for systems older than 3.22.
bool PurgeIncompatibleCommand(int argc, char** argv);
