#include "packages/staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "packages/tree_paths.h"

const char stagingAreaName[] = ".vpk-staging";

namespace {

void CloseQuietly(int fd) {
  if (fd >= 0 && close(fd) != 0) {
    return;  // only names were looked up or deleted through it
  }
}

// The area holds only flat entries (directories are made at their place later), so emptying it
// is one pass; deletions never report.
void RemoveArea(int root) {
  int area = openat(root, stagingAreaName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (area < 0) {
    return;
  }
  DIR* stream = fdopendir(area);
  if (stream == nullptr) {
    CloseQuietly(area);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(stream)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  for (const std::string& name : names) {
    if (unlinkat(dirfd(stream), name.c_str(), 0) != 0) {
      continue;  // the directory removal below then fails too: the next installation tries again
    }
  }
  if (closedir(stream) != 0 || unlinkat(root, stagingAreaName, AT_REMOVEDIR) != 0) {
    return;
  }
}

std::string TreeRootPath(Placement placement) {
  return placement == Placement::kWorkingDirectory ? "." : TargetPath("/");
}

}  // namespace

Staging::~Staging() {
  DiscardStaging(*this);
}

bool OpenStaging(Staging& staging, Placement placement) {
  DiscardStaging(staging);
  staging.placement = placement;
  staging.root = OpenTreeRoot(TreeRootPath(placement));
  if (staging.root < 0) {
    return false;
  }
  RemoveArea(staging.root);
  if (mkdirat(staging.root, stagingAreaName, 0700) != 0) {
    return false;
  }
  staging.area =
      openat(staging.root, stagingAreaName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return staging.area >= 0;
}

void DiscardStaging(Staging& staging) {
  if (staging.root >= 0 && staging.area >= 0) {
    RemoveArea(staging.root);
  }
  CloseQuietly(staging.area);
  CloseQuietly(staging.root);
  staging.area = staging.root = -1;
  staging.entries.clear();
  staging.scripts.clear();
}

void RemoveStaleStaging(Placement placement) {
  int root = OpenTreeRoot(TreeRootPath(placement));
  if (root >= 0) {
    RemoveArea(root);
  }
  CloseQuietly(root);
}
