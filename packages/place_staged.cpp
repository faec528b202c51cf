#include "packages/place_staged.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "packages/package_reports.h"
#include "packages/placement_record.h"
#include "packages/roots.h"
#include "packages/tree_paths.h"

namespace {

// Moves what stands at the entry's place (no directory) aside into the area, as "o" + the
// entry's index, so that a failed placement can put it back. True when nothing stands there;
// moved tells whether something stood there.
bool MoveAside(const Staging& staging, int directory, const std::string& leaf, std::size_t index,
               bool& moved) {
  struct stat existing;
  if (fstatat(directory, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  moved = true;
  return MovePlacementEntry(directory, leaf, staging.area, "o" + std::to_string(index));
}

// Makes a directory entry at its place; an existing directory is left as it is.
bool PlaceDirectory(Package& p, const Staging& staging, int directory, const std::string& leaf,
                    const StagedEntry& e, std::size_t index, bool& created, bool& moved) {
  struct stat existing;
  if (fstatat(directory, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      return true;
    }
    if (!MoveAside(staging, directory, leaf, index, moved)) {
      return WriteFailed(p, e.name);
    }
  }
  if (mkdirat(directory, leaf.c_str(), e.mode & 07777) != 0) {
    return WriteFailed(p, e.name);
  }
  created = true;
  return SetEntryAttributes(directory, leaf, e.mode, e.user, e.group, e.modified) ||
         WriteFailed(p, e.name);
}

// Moves the staged entry of index into its place. One on another file system (a separate /boot)
// gets a copy that replaces it as a whole; the entry is first renamed to "c" + its index, so that
// an undo knows that a copy may stand at its place.
bool MoveIntoPlace(const Staging& staging, const StagedEntry& e, std::size_t index, int directory,
                   const std::string& leaf) {
  if (placementStepForTests != nullptr && !placementStepForTests()) {
    return false;
  }
  if (renameat(staging.area, e.temporary.c_str(), directory, leaf.c_str()) == 0) {
    return true;
  }
  std::string copying = "c" + std::to_string(index);
  return errno == EXDEV &&
         renameat(staging.area, e.temporary.c_str(), staging.area, copying.c_str()) == 0 &&
         MovePlacementEntry(staging.area, copying, directory, leaf);
}

// Moves one staged entry into its place, resolving the place now: a link that an earlier entry
// placed leads the later ones as it will in the running system. What stood there is moved aside.
// The parent stays open for the next entry unless this one may change where names lead: a link,
// or anything moved aside (which may have been a link on the way).
bool PlaceEntry(Package& p, const Staging& staging, ParentDirectory& parent, const StagedEntry& e,
                std::size_t index, bool& created) {
  int directory = OpenParent(staging.root, parent, e.components);
  if (directory < 0) {
    std::vector<std::string> missing(e.components.begin(),
                                     e.components.end() - (e.components.empty() ? 0 : 1));
    if (!MakeTreeDirectories(staging.root, missing)) {
      // ignored on purpose: looking up the parent below reports the reason
    }
    directory = OpenParent(staging.root, parent, e.components);
  }
  if (directory < 0) {
    return errno == EXDEV ? Broken(p) : WriteFailed(p, e.name);
  }
  // A name without components is the root itself, which stands as a directory.
  std::string leaf = e.components.empty() ? "." : e.components.back();
  bool placed;
  bool moved = false;
  if (e.temporary.empty()) {
    placed = PlaceDirectory(p, staging, directory, leaf, e, index, created, moved);
  } else {
    // A directory in the way makes the rename fail (EISDIR).
    placed = (MoveAside(staging, directory, leaf, index, moved) &&
              MoveIntoPlace(staging, e, index, directory, leaf)) ||
             WriteFailed(p, e.name);
    if (placed) {
      p.files.insert(e.recorded);
    }
  }
  if (moved || S_ISLNK(e.mode)) {
    parent.Forget();
  }
  return placed;
}

// Entries made inside a directory changed its times; they are set again once all is in place.
bool RestoreDirectoryTimes(Package& p, const Staging& staging,
                           const std::vector<const StagedEntry*>& made) {
  for (const StagedEntry* e : made) {
    std::vector<std::string> parent(e->components.begin(), e->components.end() - 1);
    int directory = OpenTreeDirectory(staging.root, parent);
    timespec times[2] = {{static_cast<time_t>(e->modified), 0},
                         {static_cast<time_t>(e->modified), 0}};
    bool set = directory >= 0 &&
               utimensat(directory, e->components.back().c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
    int error = errno;
    if (directory >= 0) {
      close(directory);  // O_PATH: nothing to report
    }
    if (!set) {
      errno = error;
      return WriteFailed(p, e->name);
    }
  }
  return true;
}

// A disabled package's files live under x/<name> of the target tree, with its own database
// directory there, whatever the placement.
void MakeDisabledTree(const Package& p) {
  int target = OpenTreeRoot(TargetPath("/"));
  if (target < 0) {
    return;  // the entries report the unusable tree
  }
  for (const char* below : {"", "/var/pdb/"}) {
    std::vector<std::string> components;
    std::string name = "x/" + p.name + below + (*below ? p.name : "");
    if (SplitTreeName(name, components) && !MakeTreeDirectories(target, components)) {
      // ignored on purpose: the entries placed there report the reason
    }
  }
  close(target);  // O_PATH: nothing to report
}

}  // namespace

bool PlaceUnpackedFiles(Package& p, Staging& staging) {
  if (p.disabled) {
    MakeDisabledTree(p);
  }
  std::vector<const StagedEntry*> made;
  ParentDirectory parent;
  for (std::size_t i = 0; i < staging.entries.size(); ++i) {
    const StagedEntry& e = staging.entries[i];
    bool created = false;
    if (!PlaceEntry(p, staging, parent, e, i, created)) {
      return false;
    }
    if (created) {
      made.push_back(&e);
    }
  }
  return RestoreDirectoryTimes(p, staging, made);
}
