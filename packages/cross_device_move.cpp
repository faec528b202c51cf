#include "packages/cross_device_move.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "streams/exact_io.h"

// Short and fixed, so that any name fits and a killed run's leftover is replaced next time.
const char crossDeviceTemporary[] = ".vpk-moving";

namespace {

bool RecreateFile(int fromDirectory, const std::string& from, const struct stat& status,
                  int toDirectory, const std::string& temporary) {
  int source = openat(fromDirectory, from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  int target = openat(toDirectory, temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool done = source >= 0 && target >= 0 && CopyAll(source, target);
  if (done && fchown(target, status.st_uid, status.st_gid) != 0) {
    // ignored on purpose, as for every entry's owner
  }
  timespec times[2] = {status.st_atim, status.st_mtim};
  done = done && fchmod(target, status.st_mode & 07777) == 0 && futimens(target, times) == 0;
  int error = errno;
  if (source >= 0) {
    close(source);
  }
  if (target >= 0 && close(target) != 0 && done) {
    return false;
  }
  errno = error;
  return done;
}

bool RecreateLink(int fromDirectory, const std::string& from, const struct stat& status,
                  int toDirectory, const std::string& temporary) {
  std::vector<char> target(static_cast<size_t>(status.st_size) + 1);
  ssize_t length = readlinkat(fromDirectory, from.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<size_t>(length) >= target.size()) {
    return false;
  }
  target[static_cast<size_t>(length)] = '\0';
  if (symlinkat(target.data(), toDirectory, temporary.c_str()) != 0) {
    return false;
  }
  if (fchownat(toDirectory, temporary.c_str(), status.st_uid, status.st_gid, AT_SYMLINK_NOFOLLOW) !=
      0) {
    // ignored on purpose, as for every entry's owner
  }
  timespec times[2] = {status.st_atim, status.st_mtim};
  return utimensat(toDirectory, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// A FIFO or device node, made relative to the directory as the staging area makes them.
bool RecreateNode(const struct stat& status, int toDirectory, const std::string& temporary) {
  if (mknodat(toDirectory, temporary.c_str(), status.st_mode, status.st_rdev) != 0) {
    return false;
  }
  if (fchownat(toDirectory, temporary.c_str(), status.st_uid, status.st_gid, AT_SYMLINK_NOFOLLOW) !=
      0) {
    // ignored on purpose, as for every entry's owner
  }
  timespec times[2] = {status.st_atim, status.st_mtim};
  return fchmodat(toDirectory, temporary.c_str(), status.st_mode & 07777, 0) == 0 &&
         utimensat(toDirectory, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

bool MoveAcrossFileSystems(int fromDirectory, const std::string& from, int toDirectory,
                           const std::string& to) {
  struct stat status;
  if (fstatat(fromDirectory, from.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  const std::string temporary = crossDeviceTemporary;
  unlinkat(toDirectory, temporary.c_str(), 0);
  bool made =
      S_ISREG(status.st_mode)   ? RecreateFile(fromDirectory, from, status, toDirectory, temporary)
      : S_ISLNK(status.st_mode) ? RecreateLink(fromDirectory, from, status, toDirectory, temporary)
                                : RecreateNode(status, toDirectory, temporary);
  if (!made || renameat(toDirectory, temporary.c_str(), toDirectory, to.c_str()) != 0) {
    int error = errno;
    unlinkat(toDirectory, temporary.c_str(), 0);
    errno = error;
    return false;
  }
  unlinkat(fromDirectory, from.c_str(), 0);
  return true;
}
