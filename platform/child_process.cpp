#include "platform/child_process.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/pending_interrupt.h"
#include "platform/platform.h"

namespace {

constexpr int kLastInheritedDescriptor = 15;

// An inherited "ignore" would let the kernel reap children before anyone waits for them.
void KeepChildrenWaitable() {
  struct sigaction current {};
  if (sigaction(SIGCHLD, nullptr, &current) != 0 || current.sa_handler != SIG_IGN) {
    return;
  }
  struct sigaction waitable {};
  waitable.sa_handler = SIG_DFL;
  waitable.sa_flags = SA_RESTART;
  sigemptyset(&waitable.sa_mask);
  if (sigaction(SIGCHLD, &waitable, nullptr) != 0) {
    // Ignored on purpose: waiting then fails and says so through its result.
  }
}

// In the child: an open descriptor for standard descriptor `target` above the standard three, so
// that putting one in place cannot overwrite the source of another; -1 to inherit; -2 when
// nothing could be opened.
int SourceOf(const ChildStream& stream, int target) {
  int flags = (target == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC;
  int source = stream.descriptor;
  if (source < 0 && stream.path != nullptr) {
    source = open(stream.path, flags);
    // A tool's output must never land in whatever it opens first, e.g. the device it formats.
    if (source < 0) {
      source = open("/dev/null", flags);
    }
    if (source < 0) {
      return -2;
    }
  }
  if (source < 0 || source > 2) {
    return source;
  }
  int lifted = fcntl(source, F_DUPFD_CLOEXEC, 3);
  return lifted < 0 ? -2 : lifted;
}

bool PlaceStandardDescriptors(const ChildPlan& plan) {
  int sources[3] = {SourceOf(plan.input, 0), SourceOf(plan.output, 1),
                    plan.errorJoinsOutput ? -1 : SourceOf(plan.error, 2)};
  for (int target = 0; target < 3; ++target) {
    if (sources[target] == -2 || (sources[target] >= 0 && dup2(sources[target], target) < 0)) {
      return false;
    }
  }
  for (int source : sources) {
    if (source >= 0) {
      close(source);
    }
  }
  return !plan.errorJoinsOutput || dup2(1, 2) == 2;
}

// In the child, before it runs anything.
bool SetUpChild(const ChildPlan& plan) {
  if (!PlaceStandardDescriptors(plan)) {
    return false;
  }
  if (plan.closeInherited) {
    for (int descriptor = 3; descriptor <= kLastInheritedDescriptor; ++descriptor) {
      close(descriptor);
    }
  }
  if (plan.root == nullptr) {
    return true;
  }
  return ChangeRoot(plan.root) == 0 && (!plan.workInRoot || chdir("/") == 0);
}

// Forks a child that is set up by `plan`; 0 in the child.
pid_t ForkChild(const ChildPlan& plan) {
  // An interrupt that came just before must not wait for the child to end.
  CarryOutPendingInterrupt();
  KeepChildrenWaitable();
  // Buffered output would otherwise be written twice, once by each process.
  fflush(stdout);
  fflush(stderr);
  pid_t child = fork();
  if (child == 0 && !SetUpChild(plan)) {
    _exit(127);
  }
  return child;
}

}  // namespace

pid_t StartChild(const ChildPlan& plan, const char* const* arguments) {
  pid_t child = ForkChild(plan);
  if (child == 0) {
    execv(arguments[0], const_cast<char* const*>(arguments));
    _exit(127);
  }
  return child;
}

pid_t StartChild(const ChildPlan& plan, const std::function<int()>& body) {
  pid_t child = ForkChild(plan);
  if (child == 0) {
    RenewInterruptPipe();
    int code = body();
    fflush(stdout);
    fflush(stderr);
    // Whatever the parent registered to run at exit belongs to the parent.
    _exit(code);
  }
  return child;
}

namespace {

// Waits until the child has ended, or an interrupt woke the wait; false when the child's end
// cannot be watched (the caller then blocks in waitpid).
bool WaitForEnd(int ended) {
  return ended >= 0 && (WaitUntilReadable(ended, -1) >= 0 || errno == EINTR);
}

}  // namespace

int WaitForChild(pid_t child) {
  // Readable once the child has ended, so the wait can watch the interrupt's wake-up beside it.
  int ended = int(syscall(SYS_pidfd_open, child, 0));
  int status = -1;
  for (;;) {
    bool watched = WaitForEnd(ended);
    CarryOutPendingInterrupt();
    int state;
    pid_t result = waitpid(child, &state, watched ? WNOHANG : 0);
    // An interrupt noted while the child ended is carried out now, not at some later wait.
    CarryOutPendingInterrupt();
    if (result > 0) {
      status = state;
      break;
    }
    if (result < 0 && errno != EINTR) {
      break;
    }
  }
  if (ended >= 0) {
    close(ended);
  }
  return status;
}

PipedChild::PipedChild(PipedChild&& other) noexcept : pid_(other.pid_), stream_(other.stream_) {
  other.pid_ = -1;
  other.stream_ = nullptr;
}

PipedChild& PipedChild::operator=(PipedChild&& other) noexcept {
  if (this != &other) {
    Close();
    pid_ = other.pid_;
    stream_ = other.stream_;
    other.pid_ = -1;
    other.stream_ = nullptr;
  }
  return *this;
}

PipedChild::~PipedChild() {
  Close();
}

PipedChild PipedChild::Start(ChildPlan plan, PipeDirection direction, const ChildStarter& start) {
  PipedChild piped;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return piped;
  }
  bool childWrites = direction == PipeDirection::kChildWrites;
  int parentEnd = childWrites ? ends[0] : ends[1];
  int childEnd = childWrites ? ends[1] : ends[0];
  (childWrites ? plan.output : plan.input).descriptor = childEnd;
  pid_t child = start(plan);
  close(childEnd);
  FILE* stream = child > 0 ? fdopen(parentEnd, childWrites ? "r" : "w") : nullptr;
  if (stream == nullptr) {
    close(parentEnd);
    if (child > 0) {
      WaitForChild(child);  // its end of the pipe is alone now, so it ends at once
    }
    return piped;
  }
  piped.pid_ = child;
  piped.stream_ = stream;
  return piped;
}

int PipedChild::Close() {
  if (stream_ == nullptr) {
    return -1;
  }
  bool closed = fclose(stream_) == 0;
  stream_ = nullptr;
  // Waited for even when the close failed, so that no finished child is left behind.
  int status = WaitForChild(pid_);
  pid_ = -1;
  return closed ? status : -1;
}
