#include "platform/platform.h"

#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/pending_interrupt.h"

int MountFileSystem(const char* source, const char* target, const char* type, unsigned long flags,
                    const void* data) {
  return mount(source, target, type, flags, data);
}

int UnmountFileSystem(const char* target) {
  return umount(target);
}

int RebootMachine(int command) {
  return reboot(command);
}

int InitModule(const char*, const void* image, unsigned long length, const char* parameters) {
  // The system library has no wrapper; the number is the build architecture's own.
  return static_cast<int>(syscall(SYS_init_module, image, length, parameters));
}

int MakeNode(const char* path, mode_t mode, dev_t device) {
  return mknod(path, mode, device);
}

int ChangeRoot(const char* path) {
  return chroot(path);
}

void SyncFileSystems() {
  sync();
}

const char* MountTablePath() {
  return "/proc/self/mounts";
}

int InterfaceRequest(int socket, unsigned long request, ifreq* interface) {
  return ioctl(socket, request, interface);
}

uint64_t MonotonicMicroseconds() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
    return 0;  // cannot happen for this clock on Linux
  }
  return uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000;
}

int SleepMicroseconds(uint64_t microseconds) {
  // Watching the interrupt's wake-up: a SIGINT just before the sleep must cut it short too.
  pollfd wakeUp{InterruptDescriptor(), POLLIN, 0};
  timespec length{time_t(microseconds / 1000000), long(microseconds % 1000000) * 1000};
  int ready = ppoll(&wakeUp, 1, &length, nullptr);
  if (ready > 0) {
    errno = EINTR;
    return -1;
  }
  return ready;
}
