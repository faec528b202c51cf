#include "disk/tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/child_process.h"
#include "platform/pending_interrupt.h"
#include "platform/platform.h"

pid_t childPid = -1;
char logTerminalPath[16] = "/dev/tty9";

namespace {

constexpr const char* kSfdisk = "/sbin/sfdisk";

std::vector<const char*> ArgumentVector(const char* program, ArgumentList arguments,
                                        bool* quiet = nullptr) {
  std::vector<const char*> vector{program};
  for (const char* argument : arguments) {
    if (quiet != nullptr && strcmp(argument, ">null") == 0) {
      *quiet = true;
    } else if (vector.size() <= kMaxArguments) {
      vector.push_back(argument);
    }
  }
  vector.push_back(nullptr);
  return vector;
}

void OnAlarm(int) {
  int savedError = errno;
  if (write(1, ".", 1) != 1) {
    // Nothing to do about a lost dot.
  }
  alarm(1);
  errno = savedError;
}

}  // namespace

FILE* OpenPipedChild(ChildPlan plan, bool childWrites, const ChildStarter& start) {
  int ends[2];
  if (childPid != -1 || pipe2(ends, O_CLOEXEC) != 0) {
    return nullptr;
  }
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
    return nullptr;
  }
  childPid = child;
  return stream;
}

FILE* OpenSfdiskOutput(ArgumentList arguments) {
  std::vector<const char*> vector = ArgumentVector(kSfdisk, arguments);
  ChildPlan plan;
  plan.input.path = "/dev/null";
  plan.error.path = logTerminalPath;
  return OpenPipedChild(plan, true,
                        [&](const ChildPlan& ready) { return StartChild(ready, vector.data()); });
}

FILE* OpenSfdiskInput(ArgumentList arguments) {
  bool quiet = false;
  std::vector<const char*> vector = ArgumentVector(kSfdisk, arguments, &quiet);
  ChildPlan plan;
  if (quiet) {
    plan.output.path = logTerminalPath;
    plan.errorJoinsOutput = true;
  }
  return OpenPipedChild(plan, false,
                        [&](const ChildPlan& ready) { return StartChild(ready, vector.data()); });
}

int ClosePipedChild(FILE* stream) {
  if (childPid == -1) {
    return -1;
  }
  pid_t child = childPid;
  childPid = -1;
  bool closed = fclose(stream) == 0;
  // Waited for even when the close failed, so that no finished child is left behind.
  int status = WaitForChild(child);
  return closed ? status : -1;
}

int RunProgram(const char* root, const char* program, ArgumentList arguments) {
  std::vector<const char*> vector = ArgumentVector(program, arguments);
  ChildPlan plan;
  plan.input.path = "/dev/null";
  plan.output.path = logTerminalPath;
  plan.errorJoinsOutput = true;
  plan.root = root;
  pid_t child = StartChild(plan, vector.data());
  return child < 0 ? -1 : WaitForChild(child);
}

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

bool ReadWholeFile(const char* path, FileBuffer& buffer) {
  buffer = FileBuffer{};
  int descriptor = open(path, O_RDONLY);
  if (descriptor < 0) {
    return false;
  }
  struct stat status;
  bool fits = fstat(descriptor, &status) == 0 && status.st_size <= UINT32_MAX;
  uint32_t size = fits ? static_cast<uint32_t>(status.st_size) : 0;
  unsigned char* bytes = fits && size > 0 ? static_cast<unsigned char*>(malloc(size)) : nullptr;
  uint32_t done = 0;
  while (bytes != nullptr && done < size) {
    ssize_t count = read(descriptor, bytes + done, size - done);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;  // an error, or a file shorter than its status said
    }
    done += static_cast<uint32_t>(count);
  }
  close(descriptor);
  if (!fits || done < size) {
    free(bytes);
    return false;
  }
  buffer.size = size;
  buffer.bytes = bytes;
  return true;
}
