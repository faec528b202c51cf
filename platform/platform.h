#pragma once

#include <sys/types.h>

#include <cstdint>

struct ifreq;

// The calls that change the machine beyond ordinary files. The installer links the real layer
// (platform/linux.cpp); test builds link a stand-in that records each call and simulates it. The
// choice is made when the program is linked, never at run time. Each call returns what the system
// call returns: 0 (or the request's result) on success, -1 with errno set on failure.

// Mounts `source` of file-system `type` on `target` with the mount flags and data.
int MountFileSystem(const char* source, const char* target, const char* type, unsigned long flags,
                    const void* data);

// Unmounts whatever is mounted on `target`.
int UnmountFileSystem(const char* target);

// Reboots the machine with the given command (0x01234567 restarts). Returns only on failure.
int RebootMachine(int command);

// Hands a module image (mapped from `path`, which is named only for records) to the kernel.
int InitModule(const char* path, const void* image, unsigned long length, const char* parameters);

// Creates the device node `path` with the mode (file type included) and device number.
int MakeNode(const char* path, mode_t mode, dev_t device);

// Changes the root directory, leaving the working directory alone; used by a child before exec.
int ChangeRoot(const char* path);

// Flushes all file-system buffers to disk.
void SyncFileSystems();

// The path of the kernel's table of mounted file systems, "/proc/self/mounts". The test build's
// is a file of the sandbox root, so that the host's own mounts never show in a test.
const char* MountTablePath();

// Carries out a network interface request (hardware address, flags, IPv4 address) on a socket.
int InterfaceRequest(int socket, unsigned long request, ifreq* interface);

// Microseconds on the monotonic clock since an arbitrary start. The test build's clock also moves
// on by every sleep it skipped.
uint64_t MonotonicMicroseconds();

// Sleeps for `microseconds`: 0 after the whole time, -1 with errno EINTR when a signal cut it
// short. The test build returns at once with 0, its clock moved on by the whole time.
int SleepMicroseconds(uint64_t microseconds);
