#pragma once

// The SIGINT handler: records the interrupt for the abort sequence unless the run is already
// ending. The sequence itself runs from CarryOutPendingInterrupt, where that is safe.
void OnInterrupt(int signal);

// Runs the abort sequence when an interrupt is pending: the abort messages, the unmounts of
// /flash/boot, /flash and /floppy, a wait for ENTER, the console restore and the reboot. Returns at
// once when none is pending. Called wherever the installer waits for input or for a child.
void CarryOutPendingInterrupt();

// Reads standard input until a line end or the end of input, ringing the bell at every other byte.
void WaitForEnter();

// The command that restarts the machine.
inline constexpr int kRestartCommand = 0x01234567;
