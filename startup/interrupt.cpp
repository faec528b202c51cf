#include "startup/interrupt.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "console/console.h"
#include "packages/roots.h"
#include "platform/pending_interrupt.h"
#include "platform/platform.h"

namespace {

// The command that restarts the machine.
constexpr int kRestartCommand = 0x01234567;

// Set while the abort sequence runs: a second interrupt during its wait for ENTER changes nothing.
bool aborting = false;

void AbortInstallation() {
  if (installationFinished || aborting) {
    return;
  }
  aborting = true;
  fputs("\n\nInstallation aborted\n", stdout);
  fputs("Press ENTER to reboot\n", stdout);
  UnmountFileSystem(TargetPath("/boot").c_str());
  UnmountFileSystem(TargetPath("").c_str());
  UnmountFileSystem("/floppy");
  WaitForEnter();
  RestoreConsole(processConsole);
  fflush(stdout);
  SyncAndReboot();
  // A machine that refuses to reboot must not go on installing onto unmounted file systems.
  exit(0);
}

}  // namespace

void InstallInterruptHandler() {
  SetInterruptAction(AbortInstallation);
  struct sigaction action {};
  action.sa_handler = NoteInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
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

void SyncAndReboot() {
  // The restart itself does not write back what is still buffered.
  SyncFileSystems();
  RebootMachine(kRestartCommand);
}
