#include "startup/interrupt.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "console/console.h"
#include "platform/platform.h"
#include "startup/state.h"

namespace {
volatile sig_atomic_t interruptPending = 0;
volatile sig_atomic_t aborting = 0;
}  // namespace

// Only a flag is set here: the sequence prints, reads the console and unmounts, none of which a
// signal handler may do safely. A blocking read or wait returns with EINTR (the handler is
// installed without SA_RESTART), and the waiting code then calls CarryOutPendingInterrupt.
void OnInterrupt(int) {
  if (installationFinished || aborting) {
    return;
  }
  interruptPending = 1;
}

void CarryOutPendingInterrupt() {
  if (!interruptPending || installationFinished || aborting) {
    return;
  }
  aborting = 1;
  fputs("\n\nInstallation aborted\n", stdout);
  fputs("Press ENTER to reboot\n", stdout);
  UnmountFileSystem("/flash/boot");
  UnmountFileSystem("/flash");
  UnmountFileSystem("/floppy");
  WaitForEnter();
  RestoreConsole(processConsole);
  fflush(stdout);
  RebootMachine(kRestartCommand);
  // A machine that refuses to reboot must not go on installing onto unmounted file systems.
  exit(0);
}

void WaitForEnter() {
  for (;;) {
    fflush(stdout);
    int byte = ReadConsoleByte();
    if (byte < 0 || byte == '\n') {
      return;
    }
    putchar(7);
  }
}
