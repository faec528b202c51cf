#pragma once

// Makes SIGINT abort the installation at the next point where the installer waits: installs the
// handler of the pending-interrupt record (flags 0, so that blocking calls return with EINTR) and
// registers the abort sequence: the abort messages, the unmounts of /flash/boot, /flash and
// /floppy, a wait for ENTER, the console restore and the reboot.
void InstallInterruptHandler();

// Reads standard input until a line end or the end of input, ringing the bell at every other byte.
void WaitForEnter();

// Syncs the file systems and restarts the machine; returns only when the restart failed.
void SyncAndReboot();
