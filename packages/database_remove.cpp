#include "packages/database_remove.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_remove_internal.h"
#include "packages/roots.h"
#include "packages/tree_paths.h"

namespace {

int OpenTargetRoot() {
  return OpenTreeRoot(TargetPath("/"));
}

// Deletes path's last component inside the tree at root.
void DeleteBelow(int root, std::string_view path) {
  std::vector<std::string> parts;
  if (!SplitTreeName(path, parts) || parts.empty()) {
    return;
  }
  std::string last = parts.back();
  parts.pop_back();
  int parent = OpenTreeDirectory(root, parts);
  if (parent >= 0 && unlinkat(parent, last.c_str(), 0) != 0) {
    // Missing files and directories stay, as deletions never report.
  }
  CloseQuietly(parent);
}

}  // namespace

void RemovePackageFiles(Package& p) {
  int root = OpenTargetRoot();
  for (const std::string& path : p.files) {
    if (root >= 0) {
      DeleteBelow(root, path);
    }
  }
  CloseQuietly(root);
  p.files.clear();
}

void RemoveLoneBootImage() {
  int root = OpenTargetRoot();
  struct stat status;
  if (root < 0 || fstatat(root, "bootimage", &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      status.st_nlink != 1 || unlinkat(root, "bootimage", 0) != 0) {
    // nothing to do, or deletions never report
  }
  CloseQuietly(root);
}

void RemoveDatabaseDirectory(const std::string& path) {
  int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) {
    return;
  }
  DeleteDirectoryEntries(dir, HiddenEntries::kKeep);
  if (rmdir(path.c_str()) != 0) {
    // Entries beginning with "." keep the directory; deletions never report.
  }
}

void RemovePackageDirectory(const Package& p) {
  if (!IsSafeDirectoryName(p.name)) {
    return;
  }
  int root = OpenTargetRoot();
  if (root < 0) {
    return;
  }
  int database = OpenTreeDirectory(root, {"var", "pdb"});
  int dir = database < 0
                ? -1
                : openat(database, p.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir >= 0) {
    DeleteDirectoryEntries(dir, HiddenEntries::kKeep);
    if (unlinkat(database, p.name.c_str(), AT_REMOVEDIR) != 0) {
      // Entries beginning with "." keep the directory; deletions never report.
    }
    RemoveLoneBootImage();
  }
  CloseQuietly(database);
  CloseQuietly(root);
}

void RemovePackage(Package& p) {
  RemovePackageFiles(p);
  RemovePackageDirectory(p);
  p.scheduledAction = kScheduleNone;
}
