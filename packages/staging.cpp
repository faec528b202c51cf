#include "packages/staging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "packages/placement_record.h"
#include "packages/tree_paths.h"

const char stagingAreaName[] = ".vpk-staging";

namespace {

int OpenArea(int root) {
  return openat(root, stagingAreaName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// A placement that a killed installation left in the area is completed or undone first. The area
// holds only flat entries (directories are made at their place later), so emptying it is one
// pass; deletions never report.
void RemoveArea(int root, Placement placement) {
  int area = OpenArea(root);
  if (area < 0) {
    return;
  }
  // Placements in the working directory keep no record.
  if (placement == Placement::kTargetRoot && !RecoverPlacement(root, area)) {
    close(area);  // read only: nothing to report
    return;       // what could not be put back stays for the next writer
  }
  DeleteDirectoryEntries(area, HiddenEntries::kDelete);
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
  RemoveArea(staging.root, placement);
  if (mkdirat(staging.root, stagingAreaName, 0700) != 0) {
    return false;
  }
  staging.area = OpenArea(staging.root);
  return staging.area >= 0;
}

void DiscardStaging(Staging& staging) {
  if (staging.root >= 0 && staging.area >= 0) {
    RemoveArea(staging.root, staging.placement);
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
    RemoveArea(root, placement);
  }
  CloseQuietly(root);
}
