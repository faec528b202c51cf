#include "disk/tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/platform.h"
#include "startup/interrupt.h"
#include "startup/state.h"

pid_t childPid = -1;

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

void MoveDescriptor(int from, int to) {
  if (from >= 0 && from != to) {
    dup2(from, to);
    close(from);
  }
}

void CloseInheritedDescriptors() {
  for (int descriptor = 3; descriptor <= 15; ++descriptor) {
    close(descriptor);
  }
}

[[noreturn]] void ExecuteOrFail(const std::vector<const char*>& vector) {
  execv(vector[0], const_cast<char* const*>(vector.data()));
  _exit(127);
}

// Waits for the child, through interrupted waits; the raw status or -1.
int WaitForChild(pid_t child) {
  int status;
  for (;;) {
    CarryOutPendingInterrupt();
    if (waitpid(child, &status, 0) >= 0) {
      return status;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
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

FILE* OpenSfdiskOutput(ArgumentList arguments) {
  std::vector<const char*> vector = ArgumentVector(kSfdisk, arguments);
  int ends[2];
  if (childPid != -1 || pipe(ends) != 0) {
    return nullptr;
  }
  FILE* stream = fdopen(ends[0], "r");
  pid_t child = stream != nullptr ? fork() : -1;
  if (child < 0) {
    stream != nullptr ? fclose(stream) : close(ends[0]);
    close(ends[1]);
    return nullptr;
  }
  if (child == 0) {
    MoveDescriptor(ends[1], 1);
    MoveDescriptor(open("/dev/null", O_RDONLY), 0);
    MoveDescriptor(open(logTerminalPath, O_WRONLY), 2);
    CloseInheritedDescriptors();
    ExecuteOrFail(vector);
  }
  close(ends[1]);
  childPid = child;
  return stream;
}

FILE* OpenSfdiskInput(ArgumentList arguments) {
  bool quiet = false;
  std::vector<const char*> vector = ArgumentVector(kSfdisk, arguments, &quiet);
  int ends[2];
  if (childPid != -1 || pipe(ends) != 0) {
    return nullptr;
  }
  pid_t child = fork();
  if (child == 0) {
    MoveDescriptor(ends[0], 0);
    if (quiet) {
      int log = open(logTerminalPath, O_WRONLY);
      dup2(log, 1);
      MoveDescriptor(log, 2);
    }
    CloseInheritedDescriptors();
    ExecuteOrFail(vector);
  }
  close(ends[0]);
  FILE* stream = child > 0 ? fdopen(ends[1], "w") : nullptr;
  if (stream == nullptr) {
    close(ends[1]);
    if (child > 0) {
      WaitForChild(child);  // its input is closed, so it ends at once
    }
    return nullptr;
  }
  childPid = child;
  return stream;
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
  fflush(stdout);
  pid_t child = fork();
  if (child < 0) {
    return -1;
  }
  if (child == 0) {
    for (int descriptor = 0; descriptor <= 15; ++descriptor) {
      close(descriptor);
    }
    // The lowest free descriptors are taken: 0, then 1, then 2.
    open("/dev/null", O_RDONLY);
    open(logTerminalPath, O_WRONLY);
    dup(1);
    if (root != nullptr && ChangeRoot(root) != 0) {
      _exit(127);
    }
    ExecuteOrFail(vector);
  }
  return WaitForChild(child);
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
  timespec left{static_cast<time_t>(seconds), 0};
  for (;;) {
    CarryOutPendingInterrupt();
    if (nanosleep(&left, &left) == 0 || errno != EINTR) {
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
