// The test build's platform layer: records every call as one line on kRecordDescriptor, fails the
// calls that a test names in kFailFile, and simulates what later steps rely on. It touches the
// machine only inside a sandbox root. Its sleeps return at once and move its clock on instead;
// inside a sandbox root each is listed in kSleepFile.

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "tests/support/sandbox_layout.h"

namespace {

uint64_t skippedMicroseconds = 0;

bool InSandbox() {
  return access(kSandboxDirectory, F_OK) == 0;
}

std::string Text(const char* text) {
  return text == nullptr ? "(null)" : text;
}

std::string Hex(unsigned long value) {
  char buffer[24];
  snprintf(buffer, sizeof buffer, "0x%lx", value);
  return buffer;
}

bool DescriptorFree(int number) {
  return fcntl(number, F_GETFD) == -1 && errno == EBADF;
}

// Lowers the soft descriptor limit to the second free descriptor number, so that only the lowest
// free one can be opened.
void LeaveOneSpareDescriptor() {
  int spare = 0;
  while (!DescriptorFree(spare)) {
    ++spare;
  }
  int limit = spare + 1;
  while (!DescriptorFree(limit)) {
    ++limit;
  }
  rlimit lowered{};
  bool known = getrlimit(RLIMIT_NOFILE, &lowered) == 0;
  lowered.rlim_cur = rlim_t(limit);
  if (!known || setrlimit(RLIMIT_NOFILE, &lowered) != 0) {
    perror("platform stand-in: lowering the descriptor limit");
  }
}

// Records the call with its outcome: -1 with errno set when the test refuses the call or its
// `effect` fails (setting the error), else 0.
int Simulate(const std::string& call, const std::function<bool(int& error)>& effect) {
  int error = EPERM;
  bool done = !CallRefused(call) && effect(error);
  RecordCall(call + (done ? " = 0" : " = -1"));
  if (InSandbox() && CallListed(kSpareDescriptorFile, call)) {
    LeaveOneSpareDescriptor();
  }
  errno = done ? 0 : error;
  return done ? 0 : -1;
}

// For an effect that makes the system call itself.
bool Succeeded(int result, int& error) {
  error = errno;
  return result == 0;
}

// A mount of a device binds the fixture of that device and type, or fails as the kernel does on a
// device that holds no such file system.
bool BindFixture(const char* source, const char* target, const char* type, int& error) {
  std::string fixture =
      std::string(kMediaDirectory) + "/" + (strrchr(source, '/') + 1) + "." + Text(type);
  if (access(fixture.c_str(), F_OK) != 0) {
    error = EINVAL;
    return false;
  }
  return Succeeded(mount(fixture.c_str(), target, nullptr, MS_BIND, nullptr), error);
}

// A regular file stands in for a device node, so that what the installer writes to the device
// can be read back (and no real device of the host is ever reached).
bool PlainFile(const char* path, int& error) {
  int descriptor = open(path, O_WRONLY | O_CREAT, 0666);
  return Succeeded(descriptor < 0 ? -1 : close(descriptor), error);
}

}  // namespace

int MountFileSystem(const char* source, const char* target, const char* type, unsigned long flags,
                    const void*) {
  // Kernel file systems and remounts are only recorded: the sandbox root provides /proc and /sys.
  bool bind = InSandbox() && source != nullptr && strncmp(source, "/dev/", 5) == 0 &&
              (flags & MS_REMOUNT) == 0;
  return Simulate(
      "mount " + Text(source) + " " + Text(target) + " " + Text(type) + " " + Hex(flags),
      [&](int& error) { return !bind || BindFixture(source, target, type, error); });
}

int UnmountFileSystem(const char* target) {
  return Simulate("umount " + Text(target), [&](int& error) {
    error = EINVAL;  // outside a sandbox root nothing is mounted by the stand-in
    return InSandbox() && Succeeded(umount(target), error);
  });
}

int RebootMachine(int command) {
  std::string call = "reboot " + Hex(static_cast<unsigned>(command));
  if (CallRefused(call)) {
    return Simulate(call, [](int&) { return false; });
  }
  RecordCall(call);
  signal(kRebootSignal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, kRebootSignal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(kRebootSignal);
  // The first process of a PID namespace ignores its own signals: its parent in the harness turns
  // this code back into the signal.
  _exit(128 + kRebootSignal);
}

int InitModule(const char* path, const void*, unsigned long length, const char* parameters) {
  return Simulate(
      "init_module " + Text(path) + " " + std::to_string(length) + " \"" + Text(parameters) + "\"",
      [](int&) { return true; });
}

int MakeNode(const char* path, mode_t mode, dev_t device) {
  char numbers[64];
  snprintf(numbers, sizeof numbers, " 0%o %u,%u", static_cast<unsigned>(mode), major(device),
           minor(device));
  return Simulate("mknod " + Text(path) + numbers,
                  [&](int& error) { return !InSandbox() || PlainFile(path, error); });
}

int ChangeRoot(const char* path) {
  std::string call = "chroot " + Text(path);
  if (CallRefused(call)) {
    return Simulate(call, [](int&) { return false; });
  }
  // Recorded before the change: afterwards the record could fail to leave the new root.
  RecordCall(call);
  return chroot(path);
}

void SyncFileSystems() {
  RecordCall("sync");
}

const char* MountTablePath() {
  return kMountTableFile;
}

// Real time plus every skipped sleep, so that deadlines still pass while real waits happen.
uint64_t MonotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000 + skippedMicroseconds;
}

int SleepMicroseconds(uint64_t microseconds) {
  skippedMicroseconds += microseconds;
  if (InSandbox()) {
    std::ofstream(kSleepFile, std::ios::app) << microseconds << "\n";
  }
  return 0;
}

uint64_t SkippedMicroseconds() {
  return skippedMicroseconds;
}

// Interface requests reach the kernel: the tests that make them run inside network namespaces
// of their own making, so only interfaces of the test change.
int InterfaceRequest(int socket, unsigned long request, ifreq* interface) {
  std::string call = "ifreq " + Hex(request) + " " + interface->ifr_name;
  if (request == SIOCSIFFLAGS) {
    call += " " + Hex(static_cast<unsigned short>(interface->ifr_flags));
  }
  return Simulate(call, [&](int& error) {
    return Succeeded(ioctl(socket, request, interface) < 0 ? -1 : 0, error);
  });
}
