#pragma once

#include <csignal>

#include "console/console.h"

// Process-wide state of one installer run, created at start and alive until the reboot.

// Set once the chosen flow has returned and the file systems are unmounted; from then on an
// interrupt changes nothing.
extern volatile sig_atomic_t installationFinished;

// The front-panel LCD character device, or -1 when there is none.
extern int lcdDescriptor;

// The saved terminal attributes of standard input for the whole run.
extern ConsoleState processConsole;

// Where external programs write their output: "/dev/tty9", or "/dev/null" on a serial console.
extern char logTerminalPath[16];
