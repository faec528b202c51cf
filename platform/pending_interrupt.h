#pragma once

#include <csignal>

// The pending-interrupt record, below every subsystem: the SIGINT handler only notes an interrupt
// here, and the code that waits (for a key, for a child, in a sleep) carries it out through the
// action that the program registered. Nothing here prints or reads.

// Set once the installation has ended (the flow returned, the file systems are unmounted); from
// then on an interrupt is no longer noted.
extern volatile sig_atomic_t installationFinished;

// The SIGINT handler: notes the interrupt unless the installation has finished. Install it without
// SA_RESTART, so that a blocking read or wait returns with EINTR and can carry it out.
void NoteInterrupt(int signal);

// Registers what carrying out an interrupt means (the installer's abort sequence); null for
// nothing.
void SetInterruptAction(void (*action)());

// When an interrupt is noted: clears the note and runs the registered action. Returns at once
// otherwise. Called wherever the program waits.
void CarryOutPendingInterrupt();
