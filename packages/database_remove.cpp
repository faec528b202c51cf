#include "packages/database_remove.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "packages/database_files.h"
#include "packages/roots.h"

namespace {

// Closes a descriptor that was only used to find or delete names; nothing is lost if it fails.
void CloseQuietly(int fd) {
  if (fd >= 0 && close(fd) != 0)
    return;
}

// The components of path without empty and "." ones. False for a ".." component or a NUL byte,
// which never name a place of the tree.
bool SplitTreePath(std::string_view path, std::vector<std::string>& parts) {
  if (path.find('\0') != std::string_view::npos)
    return false;
  while (!path.empty()) {
    std::size_t end = path.find('/');
    std::string_view part = path.substr(0, end);
    path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
    if (part == "..")
      return false;
    if (!part.empty() && part != ".")
      parts.emplace_back(part);
  }
  return true;
}

// Without openat2: walks the components one by one and refuses every symbolic link on the way, so
// a deletion that would need to follow one does not happen at all.
int WalkWithoutLinks(int root, const std::vector<std::string>& parts, int flags) {
  int current = fcntl(root, F_DUPFD_CLOEXEC, 0);
  for (std::size_t i = 0; current >= 0 && i < parts.size(); ++i) {
    int stepFlags = i + 1 == parts.size() ? flags : O_PATH | O_DIRECTORY | O_CLOEXEC;
    int next = openat(current, parts[i].c_str(), stepFlags | O_NOFOLLOW);
    CloseQuietly(current);
    current = next;
  }
  return current;
}

// Opens the directory made of parts below root as the installed system will see it: absolute
// symbolic links lead to the tree's own root and ".." never climbs above it. -1 on failure.
int OpenDirectoryInTree(int root, const std::vector<std::string>& parts, int flags) {
  flags |= O_DIRECTORY | O_CLOEXEC;
  if (parts.empty())
    return openat(root, ".", flags);
  std::string path;
  for (const std::string& part : parts)
    path += (path.empty() ? "" : "/") + part;
  open_how how{};
  how.flags = std::uint64_t(flags);
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  long fd = syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
  if (fd < 0 && errno == ENOSYS)
    return WalkWithoutLinks(root, parts, flags);
  return int(fd);
}

int OpenTargetRoot() {
  return open(TargetPath("/").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Deletes the entries of the open directory whose names are not empty and do not begin with ".";
// takes over dir.
void DeleteEntries(int dir) {
  DIR* stream = fdopendir(dir);
  if (stream == nullptr) {
    CloseQuietly(dir);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(stream)) {
    if (entry->d_name[0] != '\0' && entry->d_name[0] != '.')
      names.emplace_back(entry->d_name);
  }
  for (const std::string& name : names) {
    if (unlinkat(dirfd(stream), name.c_str(), 0) != 0)
      continue;  // a directory or a vanished entry: deletions never report
  }
  if (closedir(stream) != 0)
    return;
}

// "bootimage" is a hard link to a stored image; with one link left, that image is gone.
void RemoveLoneBootImage(int root) {
  struct stat status;
  if (fstatat(root, "bootimage", &status, AT_SYMLINK_NOFOLLOW) != 0 || status.st_nlink != 1)
    return;
  if (unlinkat(root, "bootimage", 0) != 0)
    return;
}

// Deletes path's last component inside the tree at root.
void DeleteBelow(int root, std::string_view path) {
  std::vector<std::string> parts;
  if (!SplitTreePath(path, parts) || parts.empty())
    return;
  std::string last = parts.back();
  parts.pop_back();
  int parent = OpenDirectoryInTree(root, parts, O_PATH);
  if (parent >= 0 && unlinkat(parent, last.c_str(), 0) != 0) {
    // Missing files and directories stay, as deletions never report.
  }
  CloseQuietly(parent);
}

}  // namespace

void DeleteInTargetTree(std::string_view path) {
  int root = OpenTargetRoot();
  if (root < 0)
    return;
  DeleteBelow(root, path);
  CloseQuietly(root);
}

void RemovePackageFiles(Package& p) {
  int root = OpenTargetRoot();
  for (const std::string& path : p.files) {
    if (root >= 0)
      DeleteBelow(root, path);
  }
  CloseQuietly(root);
  p.files.clear();
}

void RemovePackageDirectory(const Package& p) {
  if (!IsSafeDirectoryName(p.name))
    return;
  int root = OpenTargetRoot();
  if (root < 0)
    return;
  int database = OpenDirectoryInTree(root, {"var", "pdb"}, O_PATH);
  int dir = database < 0
                ? -1
                : openat(database, p.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir >= 0) {
    DeleteEntries(dir);
    if (unlinkat(database, p.name.c_str(), AT_REMOVEDIR) != 0) {
      // Entries beginning with "." keep the directory; deletions never report.
    }
    RemoveLoneBootImage(root);
  }
  CloseQuietly(database);
  CloseQuietly(root);
}

void RemovePackage(Package& p) {
  RemovePackageFiles(p);
  RemovePackageDirectory(p);
  p.scheduledAction = kScheduleNone;
}
