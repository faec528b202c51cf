// The test build's platform layer: records every call as one line on kRecordDescriptor and
// simulates what later steps rely on. It touches the machine only inside a sandbox root.

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "tests/support/sandbox_layout.h"

namespace {

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

void Record(const std::string& line) {
  std::string withEnd = line + "\n";
  // One write per record keeps the lines of parent and children whole on the shared descriptor.
  if (write(kRecordDescriptor, withEnd.data(), withEnd.size()) < 0) {
    return;  // not recording: nobody asked for the calls
  }
}

bool Refused(const std::string& call) {
  std::ifstream fail(kFailFile);
  std::string prefix;
  while (std::getline(fail, prefix)) {
    if (!prefix.empty() && call.compare(0, prefix.size(), prefix) == 0) {
      return true;
    }
  }
  return false;
}

// Records the call with its outcome and hands the outcome back with errno intact.
int Outcome(const std::string& call, int result, int error) {
  Record(call + " = " + std::to_string(result));
  errno = error;
  return result;
}

int Simulate(const std::string& call, const std::function<bool(int& error)>& effect) {
  if (Refused(call)) {
    return Outcome(call, -1, EPERM);
  }
  int error = 0;
  bool done = effect(error);
  return Outcome(call, done ? 0 : -1, error);
}

bool BindFixture(const char* source, const char* target, const char* type, int& error) {
  std::string fixture =
      std::string(kMediaDirectory) + "/" + (strrchr(source, '/') + 1) + "." + Text(type);
  if (access(fixture.c_str(), F_OK) != 0) {
    error = EINVAL;  // what the kernel says when the device holds no such file system
    return false;
  }
  if (mount(fixture.c_str(), target, nullptr, MS_BIND, nullptr) != 0) {
    error = errno;
    return false;
  }
  return true;
}

bool Nothing(int&) {
  return true;
}

bool ShowsDevice(const char* source) {
  return source != nullptr && strncmp(source, "/dev/", 5) == 0;
}

}  // namespace

int MountFileSystem(const char* source, const char* target, const char* type, unsigned long flags,
                    const void*) {
  std::string call =
      "mount " + Text(source) + " " + Text(target) + " " + Text(type) + " " + Hex(flags);
  bool bind = InSandbox() && ShowsDevice(source) && (flags & MS_REMOUNT) == 0;
  // Kernel file systems and remounts are only recorded: the sandbox root provides /proc and /sys.
  return Simulate(call,
                  [&](int& error) { return !bind || BindFixture(source, target, type, error); });
}

int UnmountFileSystem(const char* target) {
  std::string call = "umount " + Text(target);
  if (Refused(call)) {
    return Outcome(call, -1, EPERM);
  }
  if (!InSandbox()) {
    return Outcome(call, -1, EINVAL);
  }
  int result = umount(target);
  return Outcome(call, result, errno);
}

int RebootMachine(int command) {
  std::string call = "reboot " + Hex(static_cast<unsigned>(command));
  if (Refused(call)) {
    return Outcome(call, -1, EPERM);
  }
  Record(call);
  signal(kRebootSignal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, kRebootSignal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(kRebootSignal);
  _exit(0);
}

int InitModule(const char* path, const void*, unsigned long length, const char* parameters) {
  std::string call =
      "init_module " + Text(path) + " " + std::to_string(length) + " \"" + Text(parameters) + "\"";
  return Simulate(call, Nothing);
}

namespace {
// A regular file stands in for the node, so that what the installer writes to the device can be
// read back (and no real device of the host is ever reached).
bool PlainFile(const char* path, int& error) {
  int descriptor = open(path, O_WRONLY | O_CREAT, 0666);
  if (descriptor < 0) {
    error = errno;
    return false;
  }
  close(descriptor);
  return true;
}
}  // namespace

int MakeNode(const char* path, mode_t mode, dev_t device) {
  char numbers[64];
  snprintf(numbers, sizeof numbers, " 0%o %u,%u", static_cast<unsigned>(mode), major(device),
           minor(device));
  bool sandbox = InSandbox();
  return Simulate("mknod " + Text(path) + numbers,
                  [&](int& error) { return !sandbox || PlainFile(path, error); });
}

int ChangeRoot(const char* path) {
  std::string call = "chroot " + Text(path);
  if (Refused(call)) {
    return Outcome(call, -1, EPERM);
  }
  // Recorded before the change: afterwards the record could fail to leave the new root.
  Record(call);
  return chroot(path);
}

void SyncFileSystems() {
  Record("sync");
}

namespace {

std::string InterfaceFixture(const ifreq* interface, const char* name) {
  std::ifstream file(std::string(kNetDirectory) + "/" + interface->ifr_name + "/" + name);
  std::string value;
  std::getline(file, value);
  return value;
}

bool HardwareAddress(ifreq* interface, int& error) {
  std::string text = InterfaceFixture(interface, "address");
  unsigned byte[6];
  if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &byte[0], &byte[1], &byte[2], &byte[3], &byte[4],
             &byte[5]) != 6) {
    error = ENODEV;
    return false;
  }
  for (int i = 0; i < 6; ++i) {
    interface->ifr_hwaddr.sa_data[i] = static_cast<char>(byte[i]);
  }
  return true;
}

bool Ipv4Address(ifreq* interface, int& error) {
  std::string text = InterfaceFixture(interface, "ipv4");
  auto* address = reinterpret_cast<sockaddr_in*>(&interface->ifr_addr);
  address->sin_family = AF_INET;
  if (inet_pton(AF_INET, text.c_str(), &address->sin_addr) != 1) {
    error = EADDRNOTAVAIL;
    return false;
  }
  return true;
}

}  // namespace

int InterfaceRequest(int, unsigned long request, ifreq* interface) {
  std::string call = "ifreq " + Hex(request) + " " + interface->ifr_name;
  if (request == SIOCSIFFLAGS) {
    call += " " + Hex(static_cast<unsigned short>(interface->ifr_flags));
  }
  if (Refused(call)) {
    return Outcome(call, -1, EPERM);
  }
  int error = 0;
  bool done = true;
  if (request == SIOCGIFHWADDR) {
    done = HardwareAddress(interface, error);
  } else if (request == SIOCGIFADDR) {
    done = Ipv4Address(interface, error);
  } else if (request == SIOCGIFFLAGS) {
    interface->ifr_flags = IFF_BROADCAST | IFF_MULTICAST;
  } else if (request != SIOCSIFFLAGS) {
    done = false;
    error = ENOTTY;
  }
  return Outcome(call, done ? 0 : -1, error);
}
