#include "packages/unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <map>
#include <vector>

#include "packages/package_database.h"
#include "packages/package_reports.h"
#include "packages/placement_record.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "packages/staging.h"
#include "packages/tree_paths.h"
#include "streams/byte_order.h"
#include "streams/exact_io.h"
#include "streams/inflate_stream.h"

namespace {

// File data goes through one buffer of this size: the files of most packages in one write each.
constexpr std::size_t kBlockSize = 128 << 10;

// A files part at least this long is inflated on a helper thread while the entries are written:
// below it, starting the thread costs more than it gains.
constexpr std::uint32_t kInflateAheadFrom = 1 << 20;

// Longer than any link target a file system keeps.
constexpr std::size_t kLinkTargetLimit = 16384;

// What the list of staged entries may take of memory before the signature is checked: a few
// thousand entries are a large package, while a deflated stream of repeated records would
// otherwise fill memory at a thousand bytes per byte of the file.
constexpr std::size_t kStagedListLimit = 32u << 20;

// One entry of the archive as its record and name describe it.
struct ArchiveEntry {
  std::uint32_t mode = 0;
  std::uint32_t user = 0;
  std::uint32_t group = 0;
  std::uint32_t modified = 0;
  bool skip = false;
  std::uint32_t dataSize = 0;
  std::string name;  // as stored: the installed path, with or without a leading "/"
};

// The places of the staged entries that are no directory, as a tree of their components, so that
// an entry below one is found in one walk along its own name.
struct StagedPlace {
  bool nonDirectory = false;
  std::map<std::string, StagedPlace> below;
};

// The directory that the last entry was looked up in, kept open while the entries that follow
// in an archive go into the same one.
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
int OpenParent(int root, ParentDirectory& cache, const std::vector<std::string>& components) {
  std::size_t depth = components.empty() ? 0 : components.size() - 1;
  if ((cache.descriptor >= 0 || cache.error != 0) && cache.components.size() == depth &&
      std::equal(cache.components.begin(), cache.components.end(), components.begin())) {
    errno = cache.error;
    return cache.descriptor;
  }
  cache.Forget();
  std::vector<std::string> parent(components.begin(), components.begin() + depth);
  int directory = OpenTreeDirectory(root, parent);
  if (directory >= 0 || cache.treeFixed) {
    cache.descriptor = directory;
    cache.error = directory >= 0 ? 0 : errno;
    cache.components = std::move(parent);
  }
  return directory;
}

// What a file made in the staging area gets without being told: the owner that the kernel gives
// it, and the permission bits that survive the umask. Attributes that equal these are not set.
struct Defaults {
  std::uint32_t user = 0;
  std::uint32_t group = 0;
  mode_t umask = 0;
};

// What one unpacking works with.
struct Unpacking {
  Package& p;
  PartReader& reader;
  InflateStream& archive;
  Staging& staging;
  std::vector<char> block;
  StagedPlace places;
  std::size_t stagedListSize = 0;  // estimated bytes of staging.entries and of places
  Defaults defaults;
  ParentDirectory parent;
};

// Passes over size bytes of the archive; false when it ends first.
bool SkipData(std::istream& archive, std::uint32_t size) {
  archive.ignore(size);
  return static_cast<std::uint64_t>(archive.gcount()) == size;
}

bool Broken(const Package& p) {
  ReportBrokenPackage(p);
  return false;
}

bool WriteFailed(const Package& p, const std::string& name) {
  ReportWriteFailure(p, name);
  return false;
}

// The place an entry names, relative to the unpacking root; false for a name that would leave it.
bool EntryComponents(const Package& p, const ArchiveEntry& entry,
                     std::vector<std::string>& components) {
  std::string inTree = p.disabled ? "x/" + p.name + "/" + entry.name : entry.name;
  return SplitTreeName(inTree, components);
}

// The path recorded in the package's files: "/" + name, under "/x/<package>" for a disabled
// package, and after "." in relative mode.
std::string RecordedPath(const Unpacking& u, const ArchiveEntry& entry) {
  std::string q = u.staging.placement == Placement::kWorkingDirectory ? "." : "";
  if (u.p.disabled) {
    q += "/x/" + u.p.name;
  }
  if (entry.name.empty() || entry.name[0] != '/') {
    q += '/';
  }
  return q + entry.name;
}

// False at the archive's end (no whole record); nameComplete tells whether the name followed.
bool ReadRecord(std::istream& archive, ArchiveEntry& entry, bool& nameComplete) {
  unsigned char record[kFileRecordSize];
  if (!ReadExactly(archive, record, sizeof record)) {
    return false;
  }
  entry.mode = LoadLittleEndian(record + kFileModeOffset, 2);
  entry.user = LoadLittleEndian(record + kFileOwnerOffset, 2);
  entry.group = LoadLittleEndian(record + kFileGroupOffset, 2);
  entry.modified = LoadLittleEndian(record + kFileTimeOffset, 4);
  entry.skip = record[kFileSkipOffset] != 0;
  entry.dataSize = LoadLittleEndian(record + kFileDataSizeOffset, 4);
  entry.name.assign(LoadLittleEndian(record + kFileNameLengthOffset, 2), '\0');
  nameComplete = ReadExactly(archive, entry.name.data(), entry.name.size());
  return true;
}

bool KnownType(const ArchiveEntry& entry) {
  switch (entry.mode & S_IFMT) {
    case S_IFLNK:
    case S_IFREG:
    case S_IFDIR:
    case S_IFIFO:
      return true;
    case S_IFCHR:
    case S_IFBLK:
      return entry.dataSize == kDeviceNumberSize;
    default:
      return false;
  }
}

// Owner (best effort: the entry's ids may not exist here), permissions and times of leaf, which
// this unpacking has just made as no link; so chmod may look the name up without a flag.
bool SetAttributes(int directory, const std::string& leaf, std::uint32_t mode, std::uint32_t user,
                   std::uint32_t group, std::uint32_t modified) {
  if (fchownat(directory, leaf.c_str(), user, group, AT_SYMLINK_NOFOLLOW) != 0) {
    // ignored on purpose: the owner is kept where it cannot be given
  }
  timespec times[2] = {{static_cast<time_t>(modified), 0}, {static_cast<time_t>(modified), 0}};
  return fchmodat(directory, leaf.c_str(), mode & 07777, 0) == 0 &&
         utimensat(directory, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool SetEntryAttributes(int directory, const std::string& leaf, const ArchiveEntry& entry) {
  return SetAttributes(directory, leaf, entry.mode, entry.user, entry.group, entry.modified);
}

// Copies the entry's data into descriptor; reports and returns false on a failure.
bool CopyData(Unpacking& u, const ArchiveEntry& entry, int descriptor) {
  for (std::uint32_t left = entry.dataSize; left > 0;) {
    std::size_t size = std::min<std::size_t>(left, kBlockSize);
    if (!ReadExactly(u.archive, u.block.data(), size)) {
      return Broken(u.p);
    }
    if (!WriteAll(descriptor, u.block.data(), size)) {
      return WriteFailed(u.p, entry.name);
    }
    left -= static_cast<std::uint32_t>(size);
  }
  return true;
}

bool StageLink(Unpacking& u, const ArchiveEntry& entry, const std::string& temporary) {
  if (entry.dataSize > kLinkTargetLimit) {
    errno = ENAMETOOLONG;  // longer than any file system keeps; not held in memory
    return WriteFailed(u.p, entry.name);
  }
  std::string target(entry.dataSize, '\0');
  if (!ReadExactly(u.archive, target.data(), target.size())) {
    return Broken(u.p);
  }
  // A NUL byte would cut the target short: it could not be stored as given.
  if (target.find('\0') != std::string::npos) {
    return Broken(u.p);
  }
  if (symlinkat(target.c_str(), u.staging.area, temporary.c_str()) != 0) {
    return WriteFailed(u.p, entry.name);
  }
  if (fchownat(u.staging.area, temporary.c_str(), entry.user, entry.group, AT_SYMLINK_NOFOLLOW) !=
      0) {
    // ignored on purpose, as for every entry's owner
  }
  return true;
}

// The area is private (mode 0700), so a file may be made with its own permission bits at once.
bool StageFile(Unpacking& u, const ArchiveEntry& entry, const std::string& temporary) {
  mode_t permissions = entry.mode & 0777;
  int descriptor = openat(u.staging.area, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
  if (descriptor < 0) {
    return WriteFailed(u.p, entry.name);
  }
  if (!CopyData(u, entry, descriptor)) {
    close(descriptor);  // already failing; the first report stands
    return false;
  }
  bool ownerGiven = entry.user == u.defaults.user && entry.group == u.defaults.group;
  if (!ownerGiven && fchown(descriptor, entry.user, entry.group) != 0) {
    // ignored on purpose, as for every entry's owner
  }
  timespec times[2] = {{static_cast<time_t>(entry.modified), 0},
                       {static_cast<time_t>(entry.modified), 0}};
  // A change of owner clears the set-id bits, so the mode is set after it.
  bool modeGiven = (entry.mode & 07777) == (permissions & ~u.defaults.umask);
  bool attributes = (modeGiven || fchmod(descriptor, entry.mode & 07777) == 0) &&
                    futimens(descriptor, times) == 0;
  int error = errno;
  if (close(descriptor) != 0 || !attributes) {
    errno = attributes ? errno : error;
    return WriteFailed(u.p, entry.name);
  }
  return true;
}

bool StageSpecial(Unpacking& u, const ArchiveEntry& entry, const std::string& temporary) {
  int made;
  if (S_ISFIFO(entry.mode)) {
    if (!SkipData(u.archive, entry.dataSize)) {
      return Broken(u.p);
    }
    made = mkfifoat(u.staging.area, temporary.c_str(), entry.mode & 07777);
  } else {
    unsigned char number[kDeviceNumberSize];
    if (!ReadExactly(u.archive, number, sizeof number)) {
      return Broken(u.p);
    }
    // Made relative to the area's descriptor: the machine layer's MakeNode takes a path, which
    // the kernel would resolve again from the host's side.
    made = mknodat(u.staging.area, temporary.c_str(), entry.mode,
                   LoadLittleEndian(number, sizeof number));
  }
  if (made != 0) {
    return WriteFailed(u.p, entry.name);
  }
  return SetEntryAttributes(u.staging.area, temporary, entry) || WriteFailed(u.p, entry.name);
}

// What stands at the entry's place in the tree today must let it in: a directory stays only for a
// directory entry. Checked while staging, so that such a package fails before the installed
// package it would replace is touched. A place whose directories are still to be made passes.
bool PlaceIsFree(Unpacking& u, const ArchiveEntry& entry,
                 const std::vector<std::string>& components) {
  for (const std::string& component : components) {
    if (component.size() > NAME_MAX) {
      errno = ENAMETOOLONG;
      return WriteFailed(u.p, entry.name);
    }
  }
  // Nothing changes in the tree while the entries are staged, so an open parent stays right.
  int directory = OpenParent(u.staging.root, u.parent, components);
  if (directory < 0) {
    return errno != EXDEV || Broken(u.p);
  }
  std::string leaf = components.empty() ? "." : components.back();
  struct stat existing;
  bool blocked = !S_ISDIR(entry.mode) &&
                 fstatat(directory, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
                 S_ISDIR(existing.st_mode);
  if (blocked) {
    errno = EISDIR;
    return WriteFailed(u.p, entry.name);
  }
  return true;
}

bool StageEntry(Unpacking& u, const ArchiveEntry& entry, StagedEntry& staged) {
  staged.temporary = S_ISDIR(entry.mode) ? "" : std::to_string(u.staging.entries.size());
  switch (entry.mode & S_IFMT) {
    case S_IFLNK:
      return StageLink(u, entry, staged.temporary);
    case S_IFREG:
      return StageFile(u, entry, staged.temporary);
    case S_IFDIR:
      return SkipData(u.archive, entry.dataSize) || Broken(u.p);
    default:
      return StageSpecial(u, entry, staged.temporary);
  }
}

// An entry below a link, file or node that this archive brings itself would be resolved through
// something not yet verified; no archive the package tools write has one.
bool BelowStagedEntry(const Unpacking& u, const std::vector<std::string>& components) {
  const StagedPlace* place = &u.places;
  for (std::size_t depth = 0; depth + 1 < components.size(); ++depth) {
    auto next = place->below.find(components[depth]);
    if (next == place->below.end()) {
      return false;
    }
    if (next->second.nonDirectory) {
      return true;
    }
    place = &next->second;
  }
  return false;
}

// Adds the place to the tree of places, counting the memory of the branches it adds.
void RememberNonDirectory(Unpacking& u, const std::vector<std::string>& components) {
  constexpr std::size_t kBranchSize = sizeof(std::pair<const std::string, StagedPlace>) + 32;
  StagedPlace* place = &u.places;
  for (const std::string& component : components) {
    auto [branch, added] = place->below.try_emplace(component);
    if (added) {
      u.stagedListSize += kBranchSize + component.size();
    }
    place = &branch->second;
  }
  place->nonDirectory = true;
}

// Roughly what keeping the entry in the staged list costs in memory.
std::size_t StagedEntrySize(const StagedEntry& e) {
  std::size_t size = sizeof(StagedEntry) + e.name.size() + e.recorded.size();
  for (const std::string& component : e.components) {
    size += sizeof(std::string) + component.size();
  }
  return size;
}

bool UnpackEntry(Unpacking& u, const ArchiveEntry& entry) {
  StagedEntry staged{{},         entry.name,  RecordedPath(u, entry), "", entry.mode,
                     entry.user, entry.group, entry.modified};
  if (!EntryComponents(u.p, entry, staged.components)) {
    return Broken(u.p);
  }
  if (entry.skip) {
    return SkipData(u.archive, entry.dataSize) || Broken(u.p);
  }
  if (staged.recorded.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return WriteFailed(u.p, entry.name);
  }
  // Refused before anything is made.
  u.stagedListSize += StagedEntrySize(staged);
  if (!KnownType(entry) || u.stagedListSize > kStagedListLimit ||
      BelowStagedEntry(u, staged.components)) {
    return Broken(u.p);
  }
  if (!PlaceIsFree(u, entry, staged.components)) {
    return false;
  }
  if (!StageEntry(u, entry, staged)) {
    return false;
  }
  if (!S_ISDIR(entry.mode)) {
    RememberNonDirectory(u, staged.components);
  }
  u.staging.entries.push_back(std::move(staged));
  ShowInstallingProgress(GetPackageDatabase(), u.p, u.reader);
  return true;
}

bool UnpackArchive(Unpacking& u) {
  ArchiveEntry entry;
  bool nameComplete = false;
  while (u.archive.good() && ReadRecord(u.archive, entry, nameComplete)) {
    if (!nameComplete) {
      return Broken(u.p);
    }
    if (!UnpackEntry(u, entry)) {
      return false;
    }
  }
  // The stream must have come to its own end: corrupt or cut data also reads as end of file,
  // and may do so right where a record would begin.
  return u.archive.ReachedStreamEnd() || Broken(u.p);
}

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
  return SetAttributes(directory, leaf, e.mode, e.user, e.group, e.modified) ||
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

// Where dirname stops: the root, or "." for a relative name.
bool IsTop(const std::string& path) {
  return path.empty() || path == "/" || path == ".";
}

std::string Parent(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  std::size_t end = path.find_last_not_of('/', slash);
  return end == std::string::npos ? "/" : path.substr(0, end + 1);
}

}  // namespace

bool MakeDirectories(const std::string& path, bool skipLast) {
  std::string current = path;
  while (current.size() > 1 && current.back() == '/') {
    current.pop_back();
  }
  std::vector<std::string> chain;
  for (; !IsTop(current); current = Parent(current)) {
    chain.push_back(current);
  }
  if (skipLast && !chain.empty()) {
    chain.erase(chain.begin());
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (mkdir(it->c_str(), 0770) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return true;
}

namespace {

// A new file in the area is owned by the process's user, and by the area's group where the area
// passes its group on (set-group-id), else by the process's group.
Defaults StagingDefaults(const Staging& staging) {
  Defaults defaults;
  defaults.user = geteuid();
  defaults.group = getegid();
  struct stat area;
  if (fstat(staging.area, &area) != 0) {
    defaults.user = ~0u;  // unknown: every owner is set
  } else if ((area.st_mode & S_ISGID) != 0) {
    defaults.group = area.st_gid;
  }
  defaults.umask = umask(0);
  umask(defaults.umask);  // read back at once: the umask cannot be read without setting it
  return defaults;
}

}  // namespace

bool UnpackFiles(Package& p, PartReader& reader, Staging& staging) {
  Inflating where =
      reader.PartLength() >= kInflateAheadFrom ? Inflating::kAhead : Inflating::kInReader;
  InflateStream archive(reader, false, where);
  Unpacking u{p, reader, archive, staging, std::vector<char>(kBlockSize), {}, 0, {}, {}};
  u.defaults = StagingDefaults(staging);
  u.parent.treeFixed = true;
  return UnpackArchive(u);
}

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
