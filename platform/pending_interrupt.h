#pragma once

#include <poll.h>

#include <csignal>
#include <cstdint>

// The pending-interrupt record, below every subsystem: the SIGINT handler only notes an interrupt
// here, and the code that waits (for a key, for a child, in a sleep, on a socket) carries it out
// through the action that the program registered. Nothing here prints or reads the console.
//
// A note also wakes every wait of this file at once: the handler writes a byte into a pipe that
// each wait watches beside what it waits for, so an interrupt that lands just before a blocking
// call is not left for the next key or the end of a child.

// Set once the installation has ended (the flow returned, the file systems are unmounted); from
// then on an interrupt is no longer noted.
extern volatile sig_atomic_t installationFinished;

// The SIGINT handler: notes the interrupt unless the installation has finished. Install it without
// SA_RESTART, so that a blocking read or wait returns with EINTR and can carry it out.
void NoteInterrupt(int signal);

// Registers what carrying out an interrupt means (the installer's abort sequence); null for
// nothing. Also makes the wake-up pipe, so call it before installing the handler.
void SetInterruptAction(void (*action)());

// When an interrupt is noted: clears the note and runs the registered action. Returns at once
// otherwise. Called wherever the program waits.
void CarryOutPendingInterrupt();

// Gives a forked child a wake-up pipe of its own, so that the parent's waits and the child's do not
// take each other's wake-ups. Called in the child right after the fork.
void RenewInterruptPipe();

// The read end of the wake-up pipe, or -1 before SetInterruptAction; for the real sleep.
int InterruptDescriptor();

// Waits until one of the descriptors is ready (as poll), `timeoutMicroseconds` have passed on the
// real clock (negative: no limit) or an interrupt is noted, which is carried out first. Returns
// poll's count of ready descriptors, 0 when the time ran out, -1 with errno on failure and with
// EINTR when a noted interrupt's action returned.
int WaitForDescriptors(pollfd* descriptors, int count, int64_t timeoutMicroseconds);

// WaitForDescriptors on one descriptor for reading: 1 readable, 0 time up, -1 as above.
int WaitUntilReadable(int descriptor, int64_t timeoutMicroseconds);
