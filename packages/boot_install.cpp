#include "packages/boot_install.h"
#include "packages/boot_install_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_lookup.h"
#include "packages/install_stream.h"
#include "packages/package_database.h"
#include "packages/package_order.h"
#include "packages/package_verify.h"
#include "packages/post_log.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "packages/schedule_apply.h"
#include "packages/version.h"
#include "platform/memory_figures.h"
#include "platform/platform.h"
#include "streams/exact_io.h"

// Copies the file source to destination, which must not exist yet: the copy is flushed to its
// disk and appears under its name whole or not at all. False, with no destination, on failure.
bool CopyPackageFile(const std::string& source, const std::string& destination);

// CopyPackageFile, then source is deleted. False, with source in place and no destination left,
// when any step fails.
bool MovePackageFile(const std::string& source, const std::string& destination);

namespace {

using FileList = std::vector<std::unique_ptr<SelectablePackage>>;

// Where a dropped file waits for its installation. A copy in RAM leaves the file on the flash; a
// move takes it off, and then only the record remembers it until its installation has committed.
enum class Keeping { kInPlace, kCopied, kMoved };

// Unpacked, a package takes about this many times its file's size on the flash: deflate rarely
// shrinks a router's programs and scripts by more.
constexpr std::uint64_t kUnpackedPerFileByte = 3;

// Largest record that is read; anything larger is damage.
constexpr std::size_t kMaxRamRecordSize = 64 << 10;

const char* const dropDirectories[] = {"rw/pckg", "var/pckg"};

void StepDone(const char* step) {
  if (GetBootInstallProbes().stepDone != nullptr) {
    GetBootInstallProbes().stepDone(step);
  }
}

// One line of the record (kRamRecordName).
struct RamEntry {
  bool moved = false;
  std::string directory;  // one of dropDirectories
  std::string name;
  PackageVersion version = 0;
  std::string file;  // its name in that directory and in RAM

  std::string FlashPath() const { return TargetPath("/" + directory + "/" + file); }
  std::string RamPath() const { return SystemPath("/ram/") + file; }
  std::string Line() const {
    return std::string(moved ? "moved " : "copied ") + directory + " " + name + " " +
           std::to_string(version) + " " + file + "\n";
  }
};

std::string RamRecordPath() {
  return TargetPath("/") + kRamRecordName;
}

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// Where a copy to path is written until it is whole: a hidden name, which no scan takes for a
// package file.
std::string PartialPath(const std::string& path) {
  std::size_t slash = path.find_last_of('/') + 1;
  return path.substr(0, slash) + "." + path.substr(slash) + ".part";
}

bool Exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

// A file name that a record line can carry and that names an entry of its own directory.
bool IsRecordableFileName(std::string_view name) {
  return !name.empty() && name[0] != '.' &&
         name.find_first_of(std::string_view("/\n\0", 3)) == std::string_view::npos;
}

// Reads one record line; false for anything that is not one (the record is outside input).
bool ParseRamEntry(std::string_view line, RamEntry& entry) {
  std::string_view how = TakeWord(line);
  std::string_view directory = TakeWord(line);
  entry.name = TakeWord(line);
  std::string_view version = TakeWord(line);
  const char* end = version.data() + version.size();
  auto parsed = std::from_chars(version.data(), end, entry.version);
  bool known = std::find(std::begin(dropDirectories), std::end(dropDirectories), directory) !=
               std::end(dropDirectories);
  entry.moved = how == "moved";
  entry.directory = directory;
  entry.file = line.substr(line.empty() ? 0 : 1);
  return (entry.moved || how == "copied") && known && IsValidPackageName(entry.name) &&
         !version.empty() && parsed.ec == std::errc() && parsed.ptr == end &&
         line.starts_with(' ') && IsRecordableFileName(entry.file);
}

// The entries of the record an earlier run left; none when there is none. A damaged record is
// reported and passed over.
std::vector<RamEntry> ReadRamRecord() {
  std::vector<RamEntry> entries;
  std::string text;
  if (ReadDatabaseFile(RamRecordPath(), kMaxRamRecordSize, text) == FileStatus::kDamaged) {
    ReportWarning(GetPackageDatabase(), "%s is damaged: an update lost before may go unnamed",
                  RamRecordPath().c_str());
  }
  for (std::string_view rest = text; !rest.empty();) {
    std::string_view line = FirstLine(rest);
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    RamEntry entry;
    if (ParseRamEntry(line, entry)) {
      entries.push_back(entry);
    }
  }
  return entries;
}

// Makes the names in a directory (new ones and removals) durable.
bool SyncDirectory(const std::string& path) {
  int directory = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) {
    return false;
  }
  bool synced = fsync(directory) == 0;
  close(directory);  // read only: nothing to report
  return synced;
}

// Replaces the record by entries, or deletes it when there are none. True when the new record is
// on the flash; false, with a warning, when it could not be written.
bool SaveRamRecord(const std::vector<RamEntry>& entries) {
  std::string path = RamRecordPath();
  if (entries.empty()) {
    // Should the deletion not reach the flash, the next run finds every entry settled.
    return unlink(path.c_str()) == 0 || errno == ENOENT;
  }
  std::string text;
  for (const RamEntry& entry : entries) {
    text += entry.Line();
  }
  std::string temporary = path + ".new";
  int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool saved = out >= 0 && WriteAll(out, text.data(), text.size()) && fsync(out) == 0;
  saved = (out < 0 || close(out) == 0) && saved;
  saved = saved && rename(temporary.c_str(), path.c_str()) == 0 && SyncDirectory(TargetPath("/"));
  if (!saved) {
    ReportWarning(GetPackageDatabase(), "%s could not be written: %s", path.c_str(),
                  std::strerror(errno));
    DeleteDatabaseFile(temporary);
  }
  return saved;
}

bool IsInstalled(const RamEntry& entry) {
  const Package* p = FindPackage(entry.name);
  return p != nullptr && p->version == entry.version;
}

// Settles what an interrupted run left, as its record names it: the files of a package that is
// installed now are deleted; a file still on the flash is read from there and its RAM copy
// deleted; a file that only RAM holds (the process was killed, the system kept running) goes
// back to the flash; a moved file that neither holds was lost with the RAM, which is reported.
// Returns the entries left unsettled: files that stay in RAM because they could not go back.
std::vector<RamEntry> SettleLeftovers(const std::vector<RamEntry>& entries) {
  std::vector<RamEntry> unsettled;
  for (const RamEntry& entry : entries) {
    std::string flash = entry.FlashPath();
    std::string ram = entry.RamPath();
    DeleteDatabaseFile(PartialPath(flash));
    DeleteDatabaseFile(PartialPath(ram));
    if (IsInstalled(entry)) {
      DeleteDatabaseFile(flash);
      DeleteDatabaseFile(ram);
    } else if (Exists(flash)) {
      DeleteDatabaseFile(ram);
    } else if (Exists(ram)) {
      if (!MovePackageFile(ram, flash)) {
        ReportWarning(GetPackageDatabase(), "package file %s could not be moved back to %s",
                      ram.c_str(), flash.c_str());
        unsettled.push_back(entry);
      }
    } else if (entry.moved) {
      ReportWarning(GetPackageDatabase(),
                    "the update %s-%s was lost by an interruption; drop it again",
                    entry.name.c_str(), VersionText(entry.version));
    }
  }
  return unsettled;
}

// The user's choices of the installed packages, and every name enabled now (own and provided).
void NoteStates(Selection& selection, std::set<std::string>& enabledNames) {
  for (const auto& p : GetPackageDatabase().Records()) {
    if (p->userForced) {
      selection[p->name] = p->disabled;
    }
    if (!p->disabled) {
      enabledNames.insert(p->name);
      for (const Dependency& provided : p->provides) {
        enabledNames.insert(provided.name);
      }
    }
  }
}

// The entry of dropDirectories that file was found in; null for another directory (/ram).
const char* DropDirectoryOf(const SelectablePackage& file) {
  for (const char* directory : dropDirectories) {
    std::string prefix = TargetPath("/" + std::string(directory) + "/");
    if (file.sourcePath.starts_with(prefix) &&
        file.sourcePath.find('/', prefix.size()) == std::string::npos) {
      return directory;
    }
  }
  return nullptr;
}

// Where each file, in order, waits for its installation. The installations take flash space for
// what each unpacks: a file stays on the flash (and is copied to RAM) while the free space covers
// that for it and the files before it, and is moved when it does not, which frees its own space.
// Files with an image, files found elsewhere than in a drop directory, and files not smaller than
// what is left of the RAM budget stay where they are.
std::vector<Keeping> ChooseKeeping(const std::vector<SelectablePackage*>& files,
                                   std::uint64_t ramBudget, std::uint64_t flashFree) {
  std::vector<Keeping> keeping;
  std::int64_t room = std::int64_t(std::min<std::uint64_t>(flashFree, INT64_MAX / 2));
  for (const SelectablePackage* file : files) {
    std::int64_t unpacked = std::int64_t(kUnpackedPerFileByte * file->fileSize);
    // A file already in RAM under that name is not ours: the record must never name it.
    std::string name = BaseName(file->path);
    bool toRam = !file->hasImage && file->fileSize < ramBudget &&
                 DropDirectoryOf(*file) != nullptr && IsRecordableFileName(name) &&
                 !Exists(SystemPath("/ram/") + name);
    if (!toRam) {
      keeping.push_back(Keeping::kInPlace);
    } else if (room >= unpacked) {
      keeping.push_back(Keeping::kCopied);
    } else {
      keeping.push_back(Keeping::kMoved);
      room += file->fileSize;
    }
    if (toRam) {
      ramBudget -= file->fileSize;
    }
    room -= unpacked;
  }
  return keeping;
}

// The record for the files in RAM (or about to be), after the entries left unsettled.
std::vector<RamEntry> RecordFor(const std::vector<SelectablePackage*>& files,
                                const std::vector<Keeping>& keeping,
                                std::vector<RamEntry> unsettled) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (keeping[i] != Keeping::kInPlace) {
      const SelectablePackage& file = *files[i];
      unsettled.push_back(RamEntry{keeping[i] == Keeping::kMoved, DropDirectoryOf(file), file.name,
                                   file.version, BaseName(file.sourcePath)});
    }
  }
  return unsettled;
}

// Puts the files in RAM as chosen, once the record names them: a file leaves the flash only
// after the record that remembers it is there. A file that cannot be put in RAM stays in place.
void PutInRam(const std::vector<SelectablePackage*>& files, std::vector<Keeping>& keeping,
              const std::vector<RamEntry>& unsettled) {
  if (RecordFor(files, keeping, {}).empty()) {
    return;
  }
  bool recorded = SaveRamRecord(RecordFor(files, keeping, unsettled));
  bool failed = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    SelectablePackage& file = *files[i];
    std::string destination = SystemPath("/ram/") + BaseName(file.path);
    bool placed = false;
    if (keeping[i] == Keeping::kCopied) {
      placed = CopyPackageFile(file.path, destination);
    } else if (keeping[i] == Keeping::kMoved) {
      placed = recorded && MovePackageFile(file.path, destination);
    }
    if (placed) {
      file.path = destination;
      StepDone("placed");
    } else {
      failed = failed || keeping[i] != Keeping::kInPlace;
      keeping[i] = Keeping::kInPlace;
    }
  }
  if (failed && recorded && !SaveRamRecord(RecordFor(files, keeping, unsettled))) {
    // the next run finds the files that stayed on the flash there
  }
}

// Deletes a "bootimage" whose image went away (only this link is left of it).
void DropOrphanBootImage(const std::string& bootImage) {
  struct stat status;
  if (lstat(bootImage.c_str(), &status) == 0 && status.st_nlink == 1) {
    DeleteDatabaseFile(bootImage);
  }
}

// Keeps the installed file as the image of its package: a hard link in the package directory,
// or, when that cannot be (another file system), under the system's /rw/pckg/.images/.
void StoreImage(const SelectablePackage& file, bool bootImage) {
  std::string image = TargetPath("/var/pdb/") + file.name + "/image";
  std::string bootLink = TargetPath("/bootimage");
  DeleteDatabaseFile(image);
  DropOrphanBootImage(bootLink);
  if (link(file.path.c_str(), image.c_str()) == 0) {
    if (bootImage && link(image.c_str(), bootLink.c_str()) != 0) {
      // a bootimage that still links another package's image stays as it is
    }
    return;
  }
  std::string directory = SystemPath("/rw/pckg/.images");
  if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
    // the link below fails and says so
  }
  // An image of an earlier version stored here would be loaded instead of this one.
  std::string fallback = directory + "/" + file.name;
  DeleteDatabaseFile(fallback);
  if (link(file.path.c_str(), fallback.c_str()) != 0) {
    ReportWarning(GetPackageDatabase(), "package %s image could not be installed",
                  file.name.c_str());
  }
  if (bootImage && !WriteDatabaseFile(SystemPath("/ram/bootimage"), file.name + "\n")) {
    ReportWarning(GetPackageDatabase(), "package %s image could not be installed",
                  file.name.c_str());
  }
}

// Installs one file. Only once its installation has committed, and the new record is on the
// flash, is the file deleted, from the flash and from RAM; a failed one goes back to where it was
// found. False when it is still in RAM (it could not go back) and the record must keep it.
bool InstallFile(SelectablePackage& file, Keeping keeping, InstallMode mode,
                 const Selection& selection) {
  bool bootImage = false;
  int result = 1;
  std::ifstream input(file.path, std::ios::binary);
  if (input) {
    result =
        InstallFromStream(input, mode, selection, nullptr, InstallOutputs{nullptr, &bootImage});
  }
  input.close();
  if (result == 0) {
    StepDone("committed");
    if (file.hasImage) {
      StoreImage(file, bootImage);
    }
    SyncFileSystems();
    DeleteDatabaseFile(file.path);
    if (keeping == Keeping::kCopied) {
      DeleteDatabaseFile(file.sourcePath);
    }
  } else if (keeping == Keeping::kCopied) {
    DeleteDatabaseFile(file.path);
  } else if (keeping == Keeping::kMoved && !MovePackageFile(file.path, file.sourcePath)) {
    ReportWarning(GetPackageDatabase(), "package file %s could not be moved back to %s",
                  file.path.c_str(), file.sourcePath.c_str());
    return false;
  }
  return true;
}

// Installs the files in order; after each, the record names only the files still in RAM.
void InstallFiles(const std::vector<SelectablePackage*>& files, std::vector<Keeping>& keeping,
                  std::vector<RamEntry> unsettled, InstallMode mode, const Selection& selection) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    bool inRecord = keeping[i] != Keeping::kInPlace;
    if (!InstallFile(*files[i], keeping[i], mode, selection)) {
      unsettled.push_back(RecordFor({files[i]}, {keeping[i]}, {})[0]);
    }
    keeping[i] = Keeping::kInPlace;
    if (inRecord && !SaveRamRecord(RecordFor(files, keeping, unsettled))) {
      // the record still names a file dealt with: the next run finds it settled
    }
    StepDone("done");
  }
}

// Enables again, through their best provider, the names that were enabled before.
bool EnableAgain(const std::set<std::string>& enabledNames) {
  std::vector<Package*> list;
  for (const std::string& name : enabledNames) {
    Package* p = FindProvider(name);
    if (p != nullptr && p->disabled && std::find(list.begin(), list.end(), p) == list.end()) {
      list.push_back(p);
    }
  }
  PerformEnables(list, Verbosity::kChanges);
  return !list.empty();
}

}  // namespace

std::uint64_t RamBudget(const std::string& path) {
  std::map<std::string, std::uint64_t> figures;
  if (!ReadMemoryFigures(path, figures)) {
    return 0;
  }
  for (const char* name : {"MemTotal", "MemFree", "Buffers", "Cached"}) {
    if (figures.count(name) == 0) {
      return 0;
    }
  }
  std::uint64_t available = figures["MemFree"] + figures["Buffers"] + figures["Cached"];
  if (available <= kKeptFreeMemory) {
    return 0;
  }
  return std::min<std::uint64_t>(available - kKeptFreeMemory, kMaxRamBudget) * 1024;
}

std::uint64_t FreeBytes(const std::string& path) {
  struct statvfs status;
  if (statvfs(path.c_str(), &status) != 0) {
    return 0;
  }
  return std::uint64_t(status.f_bavail) * status.f_frsize;
}

BootInstallProbes& GetBootInstallProbes() {
  static BootInstallProbes probes;
  return probes;
}

bool CopyPackageFile(const std::string& source, const std::string& destination) {
  std::string directory = destination.substr(0, destination.find_last_of('/') + 1);
  std::string partial = PartialPath(destination);
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    return false;
  }
  int out = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (out < 0) {
    close(in);  // read only: nothing to report
    return false;
  }
  bool copied = CopyAll(in, out) && fsync(out) == 0;
  copied = close(out) == 0 && copied;
  close(in);  // read only: nothing to report
  // A link, unlike a rename, never replaces a file of that name.
  copied = copied && link(partial.c_str(), destination.c_str()) == 0;
  DeleteDatabaseFile(partial);
  if (copied && !SyncDirectory(directory)) {
    DeleteDatabaseFile(destination);
    return false;
  }
  return copied;
}

bool MovePackageFile(const std::string& source, const std::string& destination) {
  if (!CopyPackageFile(source, destination)) {
    return false;
  }
  // With the source left in place the file would be installed twice.
  if (unlink(source.c_str()) != 0) {
    DeleteDatabaseFile(destination);
    return false;
  }
  return true;
}

bool BootInstall(InstallMode mode) {
  std::string marker = SystemPath("/rw/DOWNGRADE");
  if (access(marker.c_str(), F_OK) == 0) {
    DeleteDatabaseFile(marker);
    mode |= AllowDowngrade;
  }
  std::vector<RamEntry> left = ReadRamRecord();
  std::vector<RamEntry> unsettled = SettleLeftovers(left);
  if (!left.empty() && !SaveRamRecord(unsettled)) {
    // the entries settled now are settled again, harmlessly, by the next run
  }
  FileList files;
  if ((mode & AcceptInstalled) != 0) {
    ScanPackageDirectory(SystemPath("/ram/"), files);
  }
  ScanPackageDirectory(TargetPath("/rw/pckg/"), files);
  if (files.empty()) {
    ScanPackageDirectory(TargetPath("/var/pckg/"), files);
  }
  std::vector<SelectablePackage*> found;
  for (const auto& file : files) {
    found.push_back(file.get());
  }
  std::vector<SelectablePackage*> ordered =
      OrderPackageFiles(found, {.downgrade = (mode & AllowDowngrade) != 0, .announce = true});
  Selection selection;
  std::set<std::string> enabledNames;
  NoteStates(selection, enabledNames);
  std::vector<Keeping> keeping(ordered.size(), Keeping::kInPlace);
  if ((mode & AcceptInstalled) == 0) {
    keeping = ChooseKeeping(ordered, RamBudget(SystemPath("/proc/meminfo")),
                            GetBootInstallProbes().flashFree(TargetPath("/")));
    PutInRam(ordered, keeping, unsettled);
  }
  SyncFileSystems();
  if (!ordered.empty()) {
    ReadPostLog();
  }
  InstallFiles(ordered, keeping, unsettled, mode, selection);
  bool enabled = EnableAgain(enabledNames);
  if (BootInstallationLost()) {
    if (std::fputs("\nERROR: router installation failed!!!\nPlease, reinstall.\n", stdout) < 0 ||
        std::fflush(stdout) != 0) {
      // the caller still stops the boot; the console has nowhere else to go
    }
  }
  return !ordered.empty() || enabled;
}

bool BootInstallationLost() {
  return GetPackageDatabase().Records().empty();
}
