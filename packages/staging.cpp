#include "packages/staging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "packages/tree_paths.h"

const char stagingAreaName[] = ".vpk-staging";

namespace {

// The area holds only flat entries (directories are made at their place later), so emptying it
// is one pass; deletions never report.
void RemoveArea(int root) {
  int area = openat(root, stagingAreaName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (area < 0) {
    return;
  }
  DeleteDirectoryEntries(area, false);
  // Fails when an entry stayed: the next installation tries again.
  if (unlinkat(root, stagingAreaName, AT_REMOVEDIR) != 0) {
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
