#include "platform/pending_interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

#include "platform/platform.h"

volatile sig_atomic_t installationFinished = 0;

namespace {

volatile sig_atomic_t interruptNoted = 0;
void (*interruptAction)() = nullptr;
// The wake-up pipe: the handler writes, the waits watch the read end.
int wakeRead = -1;
volatile sig_atomic_t wakeWrite = -1;

void MakeInterruptPipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead = ends[0];
    wakeWrite = ends[1];
  }
}

void DrainInterruptPipe() {
  char bytes[64];
  while (wakeRead >= 0 && read(wakeRead, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

void NoteInterrupt(int) {
  if (installationFinished) {
    return;
  }
  interruptNoted = 1;
  int saved = errno;
  if (wakeWrite >= 0) {
    [[maybe_unused]] ssize_t written = write(wakeWrite, "i", 1);
  }
  errno = saved;
}

void SetInterruptAction(void (*action)()) {
  interruptAction = action;
  if (wakeRead < 0) {
    MakeInterruptPipe();
  }
}

void CarryOutPendingInterrupt() {
  if (!interruptNoted || interruptAction == nullptr) {
    return;
  }
  // Cleared first: the action itself waits for a key, and only a new interrupt may reach it then.
  interruptNoted = 0;
  DrainInterruptPipe();
  interruptAction();
}

void RenewInterruptPipe() {
  int ends[2];
  if (wakeRead < 0 || pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    return;
  }
  // Put over the old numbers, which the child may already have closed with its other inherited
  // descriptors.
  dup3(ends[0], wakeRead, O_CLOEXEC);
  dup3(ends[1], wakeWrite, O_CLOEXEC);
  close(ends[0]);
  close(ends[1]);
}

int InterruptDescriptor() {
  return wakeRead;
}

int WaitForDescriptors(pollfd* descriptors, int count, int64_t timeoutMicroseconds) {
  std::vector<pollfd> watched(descriptors, descriptors + count);
  watched.push_back(pollfd{wakeRead, POLLIN, 0});
  int64_t end = int64_t(MonotonicMicroseconds()) + timeoutMicroseconds;
  for (;;) {
    if (interruptNoted) {
      bool registered = interruptAction != nullptr;
      CarryOutPendingInterrupt();
      if (!registered) {
        // Nothing registered to carry it out: the wait must still end.
        DrainInterruptPipe();
        interruptNoted = 0;
      }
      errno = EINTR;
      return -1;  // the action returned: the caller decides whether to wait again
    }
    int64_t left = -1;
    if (timeoutMicroseconds >= 0) {
      left = std::max<int64_t>(0, end - int64_t(MonotonicMicroseconds()));
    }
    timespec span{time_t(left / 1000000), long(left % 1000000) * 1000};
    int ready = ppoll(watched.data(), watched.size(), left < 0 ? nullptr : &span, nullptr);
    if (ready < 0 && errno != EINTR) {
      return -1;
    }
    if (interruptNoted) {
      continue;  // carried out at the top of the loop
    }
    if (watched.back().revents != 0) {
      DrainInterruptPipe();  // a wake-up whose note was already carried out
    }
    if (ready > 0 && watched.back().revents == 0) {
      for (int i = 0; i < count; ++i) {
        descriptors[i].revents = watched[i].revents;
      }
      return ready;
    }
    if (ready == 0 && timeoutMicroseconds >= 0) {
      return 0;
    }
  }
}

int WaitUntilReadable(int descriptor, int64_t timeoutMicroseconds) {
  pollfd watched{descriptor, POLLIN, 0};
  return WaitForDescriptors(&watched, 1, timeoutMicroseconds);
}
