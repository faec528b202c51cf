#include "packages/tree_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "packages/roots.h"
#include "platform/platform.h"

namespace {

constexpr std::uint64_t kRetryMicroseconds = 100 * 1000;

struct flock WholeFile(short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  return range;
}

// True when descriptor is still the file at path: a writer that was just done removed the file
// it held, and a lock on the removed file guards nothing.
bool StillLinked(int descriptor, const std::string& path) {
  struct stat held, named;
  return fstat(descriptor, &held) == 0 && stat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

bool TreeLock::Take(const char* prefix, std::uint64_t waitSeconds) {
  Release();
  const std::string& tree = GetPackageRoots().target;
  path = TargetPath("/") + kTreeLockName;
  std::uint64_t deadline = MonotonicMicroseconds() + waitSeconds * 1000000;
  for (;;) {
    int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file < 0) {
      std::fprintf(stderr, "%scould not lock %s: %s\n", prefix, tree.c_str(), std::strerror(errno));
      return false;
    }
    struct flock range = WholeFile(F_WRLCK);
    if (fcntl(file, F_SETLK, &range) == 0) {
      if (StillLinked(file, path)) {
        descriptor = file;
        return true;
      }
      if (close(file) != 0) {
        // Its lock guarded a removed file: dropping it loses nothing.
      }
      continue;
    }
    int error = errno;
    if (error == EAGAIN || error == EACCES) {
      range = WholeFile(F_WRLCK);
      error = fcntl(file, F_GETLK, &range) == 0 ? 0 : errno;
    }
    if (close(file) != 0) {
      // Opened only to ask for the lock, which it never held: nothing was written to lose.
    }
    if (error != 0) {
      std::fprintf(stderr, "%scould not lock %s: %s\n", prefix, tree.c_str(), std::strerror(error));
      return false;
    }
    if (range.l_type == F_UNLCK) {
      continue;  // the holder was done between the two questions
    }
    if (MonotonicMicroseconds() >= deadline) {
      std::fprintf(stderr, "%s%s is in use by process %ld\n", prefix, tree.c_str(),
                   static_cast<long>(range.l_pid));
      return false;
    }
    if (SleepMicroseconds(kRetryMicroseconds) != 0 && errno != EINTR) {
      std::fprintf(stderr, "%scould not wait for %s: %s\n", prefix, tree.c_str(),
                   std::strerror(errno));
      return false;
    }
  }
}

void TreeLock::Release() {
  if (descriptor < 0) {
    return;
  }
  // Removed while still held, so that a writer waiting on this file sees it gone and starts over.
  if (unlink(path.c_str()) != 0) {
    std::fprintf(stderr, "warning: could not remove %s: %s\n", path.c_str(), std::strerror(errno));
  }
  if (close(descriptor) != 0) {
    std::fprintf(stderr, "warning: could not close %s: %s\n", path.c_str(), std::strerror(errno));
  }
  descriptor = -1;
}
