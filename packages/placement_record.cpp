#include "packages/placement_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "packages/cross_device_move.h"
#include "packages/database_files.h"
#include "packages/database_remove.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "packages/package_reports.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "packages/tree_paths.h"
#include "streams/exact_io.h"

bool (*placementStepForTests)() = nullptr;

namespace {

const char kRecordName[] = "placement";
const char kRecordHeader[] = "vpk placement 2\n";
const char kRecordEnd[] = "end\n";

// A record is a few dozen bytes per entry; the staged list itself is held to 32 MiB.
constexpr std::size_t kRecordLimit = 64u << 20;

struct RecordedEntry {
  char kind = 'f';  // 'f' no directory, 'd' a directory made by the placement, 'D' one kept
  std::vector<std::string> components;
};

struct PlacementRecord {
  std::string name;
  DirectoryIdentity fresh;  // the new database record, until it takes the old one's place
  std::vector<RecordedEntry> entries;
  std::set<std::string> gone;
  std::vector<std::vector<std::string>> made;  // database directories made for the new record
};

std::string JoinComponents(const std::vector<std::string>& components) {
  std::string path;
  for (const std::string& component : components) {
    path += (path.empty() ? "" : "/") + component;
  }
  return path;
}

bool Exists(int directory, const std::string& name) {
  struct stat status;
  return fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// Whether a directory stands at the entry's place now, before anything is placed.
bool DirectoryStands(int root, const std::vector<std::string>& components) {
  if (components.empty()) {
    return true;
  }
  std::vector<std::string> parent(components.begin(), components.end() - 1);
  int directory = OpenTreeDirectory(root, parent);
  struct stat status;
  bool stands = directory >= 0 &&
                fstatat(directory, components.back().c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(status.st_mode);
  CloseQuietly(directory);
  return stands;
}

bool RecordText(const Package& p, const Staging& staging, const std::set<std::string>& gone,
                const DirectoryIdentity& fresh, const std::vector<std::string>& made,
                std::string& text) {
  text = kRecordHeader + p.name + "\n" + std::to_string(fresh.device) + " " +
         std::to_string(fresh.inode) + "\n";
  for (const StagedEntry& e : staging.entries) {
    std::string path = JoinComponents(e.components);
    if (path.find('\n') != std::string::npos) {
      return false;
    }
    char kind = !e.temporary.empty()                          ? 'f'
                : DirectoryStands(staging.root, e.components) ? 'D'
                                                              : 'd';
    text += std::string(1, kind) + " " + path + "\n";
  }
  for (const std::string& path : gone) {
    if (path.find('\n') != std::string::npos) {
      return false;
    }
    text += "g " + path + "\n";
  }
  for (const std::string& path : made) {
    text += "m " + path + "\n";
  }
  text += kRecordEnd;
  return true;
}

bool NextLine(const std::string& text, std::size_t& at, std::string& line) {
  std::size_t end = text.find('\n', at);
  if (end == std::string::npos) {
    return false;
  }
  line = text.substr(at, end - at);
  at = end + 1;
  return true;
}

// A decimal number that fills text from at up to the character end, or false.
bool ParseNumber(const std::string& text, std::size_t at, char end, std::size_t& next,
                 unsigned long long& number) {
  std::size_t stop = text.find(end, at);
  if (stop == std::string::npos || stop == at || stop - at > 20) {
    return false;
  }
  number = 0;
  for (std::size_t i = at; i < stop; ++i) {
    unsigned digit = static_cast<unsigned char>(text[i]) - '0';
    if (digit > 9 || number > (~0ull - digit) / 10) {
      return false;
    }
    number = number * 10 + digit;
  }
  next = stop + 1;
  return true;
}

// The record as written by WritePlacementRecord, or false for anything else: a record cut short
// was written before any entry moved.
bool ParseRecord(const std::string& text, PlacementRecord& record) {
  std::size_t header = std::strlen(kRecordHeader);
  if (text.compare(0, header, kRecordHeader) != 0) {
    return false;
  }
  std::size_t at = header;
  std::string line;
  if (!NextLine(text, at, record.name) || !IsSafeDirectoryName(record.name) ||
      !ParseNumber(text, at, ' ', at, record.fresh.device) ||
      !ParseNumber(text, at, '\n', at, record.fresh.inode)) {
    return false;
  }
  while (NextLine(text, at, line)) {
    if (line + "\n" == kRecordEnd) {
      return at == text.size();
    }
    RecordedEntry entry;
    if (line.size() < 3 || line[1] != ' ' || std::strchr("fdDgm", line[0]) == nullptr ||
        !SplitTreeName(line.substr(2), entry.components) || entry.components.empty()) {
      return false;
    }
    if (line[0] == 'g') {
      record.gone.insert(line.substr(2));
    } else if (line[0] == 'm') {
      record.made.push_back(std::move(entry.components));
    } else {
      entry.kind = line[0];
      record.entries.push_back(std::move(entry));
    }
  }
  return false;
}

bool ReadRecord(int area, PlacementRecord& record) {
  int descriptor =
      openat(area, kRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) {
    return false;
  }
  struct stat status;
  std::string text;
  bool read = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
              static_cast<std::size_t>(status.st_size) <= kRecordLimit;
  if (read) {
    text.resize(static_cast<std::size_t>(status.st_size));
    std::size_t have = 0;
    while (have < text.size()) {
      ssize_t got = ::read(descriptor, text.data() + have, text.size() - have);
      if (got <= 0) {
        read = false;
        break;
      }
      have += static_cast<std::size_t>(got);
    }
  }
  close(descriptor);  // read only: nothing to report
  return read && ParseRecord(text, record);
}

// The commit point of a placement is the swap that puts its new database record in place: the
// record's directory then stands at the package directory's name, which no other directory can
// while the new one exists. A version file cannot tell: a package without metadata files has
// none, and a reinstalled version shows the same text before and after.
bool Committed(const PlacementRecord& record) {
  return PackageDirectoryIs(record.name, record.fresh);
}

// Puts the entry of index back as it stood before the placement. Its parent is resolved as when
// it was placed: later entries are undone first.
bool UndoEntry(int root, int area, std::size_t index, const RecordedEntry& entry) {
  if (entry.kind == 'D') {
    return true;
  }
  std::vector<std::string> parent(entry.components.begin(), entry.components.end() - 1);
  const std::string& leaf = entry.components.back();
  int directory = OpenTreeDirectory(root, parent);
  if (directory < 0) {
    return true;  // its directory was never made: nothing of it was placed
  }
  std::string staged = std::to_string(index);
  std::string aside = "o" + staged;
  bool restored = true;
  if (entry.kind == 'd' && unlinkat(directory, leaf.c_str(), AT_REMOVEDIR) != 0) {
    // ignored on purpose: a directory that another entry still fills stays
  }
  if (Exists(area, aside)) {
    restored = MovePlacementEntry(area, aside, directory, leaf);
  } else if (entry.kind == 'f' && (!Exists(area, staged) || Exists(area, "c" + staged))) {
    // Nothing stood at its place: what stands there now is the new entry, or a copy of it.
    if (unlinkat(directory, leaf.c_str(), 0) != 0 ||
        unlinkat(directory, crossDeviceTemporary, 0) != 0) {
      // ignored on purpose: either may not be there
    }
  }
  int error = errno;
  close(directory);  // O_PATH: nothing to report
  errno = error;
  return restored;
}

// Removes a database directory that the placement made, unless something else fills it now.
void RemoveMadeDirectory(int root, const std::vector<std::string>& components) {
  std::vector<std::string> parent(components.begin(), components.end() - 1);
  int directory = OpenTreeDirectory(root, parent);
  if (directory >= 0 && unlinkat(directory, components.back().c_str(), AT_REMOVEDIR) != 0) {
    // ignored on purpose: a directory that other packages fill stays
  }
  CloseQuietly(directory);
}

bool Undo(int root, int area, const PlacementRecord& record) {
  bool restored = true;
  for (std::size_t i = record.entries.size(); i-- > 0;) {
    if (!UndoEntry(root, area, i, record.entries[i])) {
      ReportError(GetPackageDatabase(), "can not put back %s of %s: %s",
                  JoinComponents(record.entries[i].components).c_str(), record.name.c_str(),
                  std::strerror(errno));
      restored = false;
    }
  }
  PutBackReplacedDirectory(record.name);
  for (std::size_t i = record.made.size(); i-- > 0;) {
    RemoveMadeDirectory(root, record.made[i]);
  }
  // A record that could not be carried out whole is kept for the next writer to try again.
  return restored && unlinkat(area, kRecordName, 0) == 0;
}

void Complete(int area, const PlacementRecord& record) {
  Package replaced(record.name);
  replaced.files = record.gone;
  RemovePackageFiles(replaced);
  RemoveReplacementLeftovers(replaced, Placement::kTargetRoot);
  if (unlinkat(area, kRecordName, 0) != 0) {
    // ignored on purpose: the area goes with it
  }
}

}  // namespace

bool MovePlacementEntry(int fromDirectory, const std::string& from, int toDirectory,
                        const std::string& to) {
  if (placementStepForTests != nullptr && !placementStepForTests()) {
    return false;
  }
  return renameat(fromDirectory, from.c_str(), toDirectory, to.c_str()) == 0 ||
         (errno == EXDEV && MoveAcrossFileSystems(fromDirectory, from, toDirectory, to));
}

std::vector<std::string> MissingDatabaseDirectories(int root) {
  std::vector<std::string> missing;
  for (const std::vector<std::string>& path :
       {std::vector<std::string>{"var"}, std::vector<std::string>{"var", "pdb"}}) {
    if (!DirectoryStands(root, path)) {
      missing.push_back(JoinComponents(path));
    }
  }
  return missing;
}

bool WritePlacementRecord(const Package& p, const Staging& staging,
                          const std::set<std::string>& gone, const DirectoryIdentity& fresh,
                          const std::vector<std::string>& made) {
  std::string text;
  if (!RecordText(p, staging, gone, fresh, made, text)) {
    ReportBrokenPackage(p);
    return false;
  }
  int descriptor =
      openat(staging.area, kRecordName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool written = descriptor >= 0 && WriteAll(descriptor, text.data(), text.size());
  int error = errno;
  if (descriptor >= 0 && close(descriptor) != 0 && written) {
    error = errno;
    written = false;
  }
  // One sync of the tree's file system takes every staged entry and the record to the disk
  // before the first rename publishes any of them.
  if (written && syncfs(staging.area) != 0) {
    error = errno;
    written = false;
  }
  if (!written) {
    errno = error;
    ReportWriteFailure(p, stagingAreaName);
    return false;
  }
  return true;
}

bool UndoPlacement(const Staging& staging) {
  PlacementRecord record;
  return !ReadRecord(staging.area, record) || Undo(staging.root, staging.area, record);
}

void CompletePlacement(const Staging& staging) {
  PlacementRecord record;
  if (placementStepForTests != nullptr && !placementStepForTests()) {
    // ignored on purpose: the new record stands, and the next writer completes the rest
  }
  if (ReadRecord(staging.area, record)) {
    Complete(staging.area, record);
  }
}

Interrupted FindInterruptedPlacement(int area, std::string& name) {
  PlacementRecord record;
  if (!ReadRecord(area, record)) {
    return Interrupted::kNone;
  }
  name = record.name;
  return Committed(record) ? Interrupted::kCompleted : Interrupted::kUndone;
}

Interrupted FindInterruptedInstallation(std::string& name) {
  int root = OpenTreeRoot(TargetPath("/"));
  int area = root < 0
                 ? -1
                 : openat(root, stagingAreaName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  Interrupted found = area < 0 ? Interrupted::kNone : FindInterruptedPlacement(area, name);
  CloseQuietly(area);
  CloseQuietly(root);
  return found;
}

bool RecoverPlacement(int root, int area) {
  PlacementRecord record;
  if (!ReadRecord(area, record)) {
    return true;
  }
  if (Committed(record)) {
    Complete(area, record);
    return true;
  }
  return Undo(root, area, record);
}
