#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Names inside a target tree, resolved as the tree's own system will resolve them once it runs:
// the tree's root stands for "/", so an absolute link ("lib -> /usr/lib") leads to the tree's own
// usr/lib. Nothing resolved here can lead out of the tree: a name with a ".." component is refused
// before any lookup, and a link whose ".." would climb above the root fails with EXDEV.

// The components of a name, without empty and "." ones: "/usr//lib/./x" gives usr, lib, x. False
// when a component is "..", or the name holds a NUL byte.
bool SplitTreeName(std::string_view name, std::vector<std::string>& components);

// Opens the root directory of a tree (an O_PATH descriptor); -1 with errno on failure.
int OpenTreeRoot(const std::string& path);

// Opens the directory that the components name inside the tree of root, following links inside
// the tree. Returns an O_PATH descriptor, or -1 with errno: EXDEV for a link that climbs out of
// the tree, ELOOP for too many links, ENOENT or ENOTDIR from the lookup. The kernel does the
// lookup where it can; links it will not follow beneath the root go through WalkTreeDirectory.
int OpenTreeDirectory(int root, const std::vector<std::string>& components);

// Creates the directories that the components name inside the tree of root, outermost first,
// with mode 0770 (less the umask). An existing directory, or a link to one, is no error. False
// with errno on the first failure (EXDEV for a way out of the tree).
bool MakeTreeDirectories(int root, const std::vector<std::string>& components);

// Closes a descriptor that only looked up or deleted names: nothing it did can fail at close.
// -1 is passed over.
void CloseQuietly(int descriptor);

// Whether DeleteDirectoryEntries leaves the names beginning with ".".
enum class HiddenEntries { kDelete, kKeep };

// Deletes the files, links and nodes of the open directory (not its subdirectories), all but
// "." and "..", or with HiddenEntries::kKeep all but the names beginning with "."; takes over
// directory. Deletions never report: what could not be deleted stays.
void DeleteDirectoryEntries(int directory, HiddenEntries hidden);

// The directory that the last entry was looked up in (by OpenParent), kept open while the entries
// that follow in an archive go into the same one.
struct ParentDirectory {
  ParentDirectory() = default;
  ~ParentDirectory() { Forget(); }
  ParentDirectory(const ParentDirectory&) = delete;
  ParentDirectory& operator=(const ParentDirectory&) = delete;
  void Forget() {
    CloseQuietly(descriptor);
    descriptor = -1;
    error = 0;
    components.clear();
  }

  // Set while nothing changes in the tree: a lookup that failed fails again, and is kept too.
  bool treeFixed = false;
  std::vector<std::string> components;
  int descriptor = -1;  // O_PATH, owned
  int error = 0;        // the errno of a kept failed lookup
};

// The parent directory of the place that components name, from the cache when it is the one
// the last lookup opened; owned by the cache. -1 with errno as OpenTreeDirectory gives it.
int OpenParent(int root, ParentDirectory& cache, const std::vector<std::string>& components);

// Owner (best effort: the entry's ids may not exist here), permissions and times of leaf, which
// the caller has just made as no link; so chmod may look the name up without a flag. False with
// errno when the permissions or times cannot be set.
bool SetEntryAttributes(int directory, const std::string& leaf, std::uint32_t mode,
                        std::uint32_t user, std::uint32_t group, std::uint32_t modified);
