#include "packages/boot_install.h"
#include "packages/boot_install_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
#include "platform/memory_figures.h"
#include "platform/platform.h"
#include "streams/exact_io.h"

// Moves the file source to destination by copying it: destination must not exist yet and is
// flushed to its disk before source is deleted. False, with source in place and no destination
// left, when any step fails.
bool MovePackageFile(const std::string& source, const std::string& destination);

namespace {

using FileList = std::vector<std::unique_ptr<SelectablePackage>>;

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

// Moves the files without image into RAM while each is smaller than what is left of the budget.
void MoveToRam(const std::vector<SelectablePackage*>& files, std::uint64_t budget) {
  for (SelectablePackage* file : files) {
    if (file->hasImage || file->fileSize >= budget) {
      continue;
    }
    std::string base = file->path.substr(file->path.find_last_of('/') + 1);
    std::string destination = SystemPath("/ram") + "/" + base;
    if (MovePackageFile(file->path, destination)) {
      file->path = destination;
      budget -= file->fileSize;
    }
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

// Installs one file; on success it is deleted (its image kept), otherwise it goes back to where
// it was found.
void InstallFile(SelectablePackage& file, InstallMode mode, const Selection& selection) {
  bool bootImage = false;
  int result = 1;
  std::ifstream input(file.path, std::ios::binary);
  if (input) {
    result =
        InstallFromStream(input, mode, selection, nullptr, InstallOutputs{nullptr, &bootImage});
  }
  input.close();
  if (result == 0) {
    if (file.hasImage) {
      StoreImage(file, bootImage);
    }
    DeleteDatabaseFile(file.path);
  } else if (file.path != file.sourcePath && !MovePackageFile(file.path, file.sourcePath)) {
    ReportWarning(GetPackageDatabase(), "package file %s could not be moved back to %s",
                  file.path.c_str(), file.sourcePath.c_str());
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

bool MovePackageFile(const std::string& source, const std::string& destination) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    return false;
  }
  int out = open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    close(in);  // read only: nothing to report
    return false;
  }
  bool copied = CopyAll(in, out) && fsync(out) == 0;
  copied = close(out) == 0 && copied;
  close(in);  // read only: nothing to report
  // With the source left in place the file would be installed twice.
  if (!copied || unlink(source.c_str()) != 0) {
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
  std::vector<SelectablePackage*> ordered = OrderPackageFiles(found, (mode & AllowDowngrade) != 0);
  Selection selection;
  std::set<std::string> enabledNames;
  NoteStates(selection, enabledNames);
  if ((mode & AcceptInstalled) == 0) {
    MoveToRam(ordered, RamBudget(SystemPath("/proc/meminfo")));
  }
  SyncFileSystems();
  if (!ordered.empty()) {
    ReadPostLog();
  }
  for (SelectablePackage* file : ordered) {
    InstallFile(*file, mode, selection);
  }
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
