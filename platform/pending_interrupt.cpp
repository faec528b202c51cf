#include "platform/pending_interrupt.h"

volatile sig_atomic_t installationFinished = 0;

namespace {
volatile sig_atomic_t interruptNoted = 0;
void (*interruptAction)() = nullptr;
}  // namespace

void NoteInterrupt(int) {
  if (!installationFinished) {
    interruptNoted = 1;
  }
}

void SetInterruptAction(void (*action)()) {
  interruptAction = action;
}

void CarryOutPendingInterrupt() {
  if (!interruptNoted || interruptAction == nullptr) {
    return;
  }
  // Cleared first: the action itself waits for a key, and only a new interrupt may reach it then.
  interruptNoted = 0;
  interruptAction();
}
