#pragma once

// The installer program: prepares the boot environment, runs the installation flow that "/TYPE"
// and the command line choose, then unmounts and reboots. Returns only in the parent of the init
// wrapper (the child's raw wait status, or -1) and when the reboot itself fails (0).
int RunInstaller(int argc, char** argv);
