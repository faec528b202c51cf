#include "packages/database_store.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_remove.h"
#include "packages/dependency_file.h"
#include "packages/package_reports.h"
#include "packages/package_script.h"
#include "packages/placement_record.h"

namespace {

// A name that a word-separated list file can hold and give back unchanged.
bool IsListWord(std::string_view name) {
  return !name.empty() &&
         name.find_first_of(std::string_view(" \t\n\r\v\f\0", 7)) == std::string_view::npos;
}

bool AllListWords(const std::vector<Dependency>& list) {
  for (const Dependency& d : list) {
    if (!IsListWord(d.name)) {
      return false;
    }
  }
  return true;
}

// True when every file the metadata will name can be written so that a load reads back the same
// record: words without blanks, and paths without line ends or NUL bytes.
bool FitsMetadataFiles(const Package& p) {
  if (!AllListWords(p.dependencies) || !AllListWords(p.provides) || !AllListWords(p.conflicts)) {
    return false;
  }
  if (!p.bundle.name.empty() && !IsListWord(p.bundle.name)) {
    return false;
  }
  if (p.noFileList) {
    return true;
  }
  for (const std::string& path : p.files) {
    if (path.find_first_of(std::string_view("\n\0", 2)) != std::string::npos) {
      return false;
    }
  }
  return true;
}

std::string ListText(const std::vector<Dependency>& list, PriorityColumn priority) {
  std::string text;
  for (const Dependency& d : list) {
    text += d.name + " " + std::to_string(d.minVersion) + " " + std::to_string(d.maxVersion);
    if (priority == PriorityColumn::kPresent) {
      text += " " + std::to_string(d.priority);
    }
    text += "\n";
  }
  return text;
}

std::string FilesText(const Package& p) {
  std::string text;
  for (const std::string& path : p.files) {
    std::string_view line = path;
    if (!line.empty() && line.front() == '/') {
      line.remove_prefix(1);
    }
    if (!line.empty()) {
      text.append(line).append("\n");
    }
  }
  return text;
}

bool WriteItem(const Package& p, const std::string& dir, const char* file,
               const std::string& text) {
  if (WriteDatabaseFile(dir + file, text)) {
    return true;
  }
  ReportWriteFailure(p, std::string("meta/") + file);
  return false;
}

bool WriteListFiles(const Package& p, const std::string& dir) {
  if (!WriteItem(p, dir, "version", VersionFileText(p))) {
    return false;
  }
  if (!WriteItem(p, dir, "deps", ListText(p.dependencies, PriorityColumn::kAbsent))) {
    return false;
  }
  if (!p.provides.empty() &&
      !WriteItem(p, dir, "provides", ListText(p.provides, PriorityColumn::kPresent))) {
    return false;
  }
  if (!p.conflicts.empty() &&
      !WriteItem(p, dir, "conflicts", ListText(p.conflicts, PriorityColumn::kAbsent))) {
    return false;
  }
  if (p.bundle.name.empty()) {
    DeleteDatabaseFile(dir + "bundle");
  } else if (!WriteItem(p, dir, "bundle", p.bundle.name + "\n")) {
    return false;
  }
  return p.noFileList || WriteItem(p, dir, "files", FilesText(p));
}

void DeleteListFiles(const std::string& dir) {
  for (const char* file : {"version", "deps", "provides", "conflicts", "bundle", "files"}) {
    DeleteDatabaseFile(dir + file);
  }
}

// State files are written without error checks on purpose: the state is written again at its next
// change, and a package must not fail over it.
void WriteStateFile(const std::string& path, const char* text) {
  if (!WriteDatabaseFile(path, text)) {
    return;
  }
}

const char* DisabledText(const Package& p) {
  return p.userForced ? "user\n" : "auto\n";
}

void WriteStateFiles(const Package& p, const std::string& dir) {
  if (p.disabled) {
    WriteStateFile(dir + "disabled", DisabledText(p));
  } else {
    DeleteDatabaseFile(dir + "disabled");
  }
  if (p.disabled || !p.userForced) {
    DeleteDatabaseFile(dir + "enabled");
  } else {
    WriteStateFile(dir + "enabled", "user\n");
  }
}

// Writes the metadata into dir and the state files into stateDir.
bool WriteMetadataInto(const Package& p, const std::string& dir, const std::string& stateDir) {
  bool keepsMetadata = (p.flags & kFlagNoMetadataFiles) == 0;
  if (!IsSafeDirectoryName(p.name) || (keepsMetadata && !FitsMetadataFiles(p))) {
    ReportBrokenPackage(p);
    return false;
  }
  if (!keepsMetadata) {
    DeleteListFiles(dir);
  } else if (!WriteListFiles(p, dir)) {
    return false;
  }
  WriteStateFiles(p, stateDir);
  if (p.hasImage) {
    DeleteDatabaseFile(dir + "oninstall");
  }
  return true;
}

bool WriteScripts(const Package& p, const std::string& dir, const StagedScripts& scripts) {
  for (const auto& [name, text] : scripts) {
    if (!WritePackageScript(p, dir + name, text)) {
      ReportWriteFailure(p, name);
      return false;
    }
  }
  return true;
}

// The names beside the package directory (given without its closing "/") where its replacement
// is written, and where the replaced one is put aside.
std::string FreshName(const Package& p, const std::string& dir) {
  return dir.substr(0, dir.size() - p.name.size()) + "." + p.name + ".new";
}

std::string AsideName(const Package& p, const std::string& dir) {
  return dir.substr(0, dir.size() - p.name.size()) + "." + p.name + ".old";
}

std::string DirectoryWithoutSlash(const Package& p, Placement placement) {
  std::string dir = PackageDirectory(p, placement);
  dir.pop_back();
  return dir;
}

// Puts the directory at fresh in the place of dir, at once where the file system can swap two
// names; whatever stood at dir ends up at fresh or aside.
bool SwapIntoPlace(const std::string& fresh, const std::string& dir, const std::string& aside) {
  if (renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) == 0) {
    return true;
  }
  if (errno == ENOENT) {
    return rename(fresh.c_str(), dir.c_str()) == 0;
  }
  // Without the swap a killed installation may leave the package unrecorded between the two
  // renames; its next run installs it afresh and removes both left-over directories.
  return rename(dir.c_str(), aside.c_str()) == 0 && rename(fresh.c_str(), dir.c_str()) == 0;
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

// Creates path and its missing ancestors, outermost first, with mode 0770. False, printing nothing,
// on an error other than an existing directory.
bool MakeDirectories(const std::string& path) {
  std::string current = path;
  while (current.size() > 1 && current.back() == '/') {
    current.pop_back();
  }
  std::vector<std::string> chain;
  for (; !IsTop(current); current = Parent(current)) {
    chain.push_back(current);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (mkdir(it->c_str(), 0770) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string VersionFileText(const Package& p) {
  return std::to_string(p.version) + " " + std::to_string(p.buildTime) + "\n";
}

bool CreatePackageDirectory(const Package& p, Placement placement) {
  if (!IsSafeDirectoryName(p.name)) {
    ReportBrokenPackage(p);
    return false;
  }
  return MakeDirectories(PackageDirectory(p, placement));
}

bool WritePackageMetadata(const Package& p, Placement placement) {
  return WriteMetadataInto(p, PackageDirectory(p, placement),
                           PackageDirectory(p, Placement::kTargetRoot));
}

void RemoveReplacementLeftovers(const Package& p, Placement placement) {
  if (!IsSafeDirectoryName(p.name)) {
    return;
  }
  std::string dir = DirectoryWithoutSlash(p, placement);
  RemoveDatabaseDirectory(FreshName(p, dir));
  RemoveDatabaseDirectory(AsideName(p, dir));
}

bool WriteReplacement(const Package& p, const StagedScripts& scripts, Placement placement,
                      DirectoryIdentity& identity) {
  if (!IsSafeDirectoryName(p.name)) {
    ReportBrokenPackage(p);
    return false;
  }
  std::string fresh = FreshName(p, DirectoryWithoutSlash(p, placement));
  RemoveReplacementLeftovers(p, placement);
  if (!MakeDirectories(fresh)) {
    ReportWriteFailure(p, "meta");
    return false;
  }
  if (!WriteScripts(p, fresh + "/", scripts) || !WriteMetadataInto(p, fresh + "/", fresh + "/")) {
    RemoveReplacementLeftovers(p, placement);
    return false;
  }
  struct stat status;
  if (stat(fresh.c_str(), &status) != 0) {
    ReportWriteFailure(p, "meta");
    RemoveReplacementLeftovers(p, placement);
    return false;
  }
  identity = {status.st_dev, status.st_ino};
  return true;
}

bool SwapReplacementIntoPlace(const Package& p, Placement placement) {
  std::string dir = DirectoryWithoutSlash(p, placement);
  bool swapped = (placementStepForTests == nullptr || placementStepForTests()) &&
                 SwapIntoPlace(FreshName(p, dir), dir, AsideName(p, dir));
  if (!swapped) {
    ReportWriteFailure(p, "meta");
  }
  RemoveReplacementLeftovers(p, placement);
  RemoveLoneBootImage();
  return swapped;
}

bool PackageDirectoryIs(const std::string& name, const DirectoryIdentity& identity) {
  struct stat status;
  return IsSafeDirectoryName(name) &&
         lstat(DirectoryWithoutSlash(Package(name), Placement::kTargetRoot).c_str(), &status) ==
             0 &&
         S_ISDIR(status.st_mode) && status.st_dev == identity.device &&
         status.st_ino == identity.inode;
}

void PutBackReplacedDirectory(const std::string& name) {
  if (!IsSafeDirectoryName(name)) {
    return;
  }
  Package p(name);
  std::string dir = DirectoryWithoutSlash(p, Placement::kTargetRoot);
  if (renameat2(AT_FDCWD, AsideName(p, dir).c_str(), AT_FDCWD, dir.c_str(), RENAME_NOREPLACE) !=
      0) {
    // ignored on purpose: nothing was left aside, or the package directory stands
  }
  RemoveReplacementLeftovers(p, Placement::kTargetRoot);
}

bool StorePackage(Package& p) {
  if (!CreatePackageDirectory(p, Placement::kTargetRoot)) {
    return false;
  }
  if (WritePackageMetadata(p, Placement::kTargetRoot)) {
    return true;
  }
  RemovePackage(p);
  return false;
}

void WriteDisabledState(Package& p) {
  if (IsSafeDirectoryName(p.name)) {
    std::string dir = PackageDirectory(p, Placement::kTargetRoot);
    DeleteDatabaseFile(dir + "enabled");
    WriteStateFile(dir + "disabled", DisabledText(p));
  }
  p.disabled = true;
  p.scheduledAction = kScheduleNone;
}

void WriteEnabledState(Package& p) {
  if (IsSafeDirectoryName(p.name)) {
    std::string dir = PackageDirectory(p, Placement::kTargetRoot);
    DeleteDatabaseFile(dir + "disabled");
    if (p.userForced) {
      WriteStateFile(dir + "enabled", "user\n");
    } else {
      DeleteDatabaseFile(dir + "enabled");
    }
  }
  p.disabled = false;
  p.scheduledAction = kScheduleNone;
}
