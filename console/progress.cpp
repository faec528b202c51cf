#include "console/progress.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>

#include "platform/pending_interrupt.h"
#include "platform/platform.h"

namespace {

void OnAlarm(int) {
  int savedError = errno;
  if (write(1, ".", 1) != 1) {
    // Nothing to do about a lost dot.
  }
  alarm(1);
  errno = savedError;
}

}  // namespace

void StartProgress(const char* message) {
  fputs(message, stdout);
  fflush(stdout);
  struct sigaction action {};
  action.sa_handler = OnAlarm;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  alarm(1);
}

void StopProgress() {
  putchar('\n');
  fflush(stdout);
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
}

void SleepSeconds(unsigned seconds) {
  uint64_t end = MonotonicMicroseconds() + uint64_t{seconds} * 1000000;
  for (;;) {
    CarryOutPendingInterrupt();
    uint64_t now = MonotonicMicroseconds();
    if (now >= end || SleepMicroseconds(end - now) == 0 || errno != EINTR) {
      return;
    }
  }
}
