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
  return SetEntryAttributes(u.staging.area, temporary, entry.mode, entry.user, entry.group,
                            entry.modified) ||
         WriteFailed(u.p, entry.name);
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
  InflateStream archive(reader, Framing::kZlib, where);
  Unpacking u{p, reader, archive, staging, std::vector<char>(kBlockSize), {}, 0, {}, {}};
  u.defaults = StagingDefaults(staging);
  u.parent.treeFixed = true;
  return UnpackArchive(u);
}
