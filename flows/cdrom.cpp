#include "flows/cdrom.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "console/console.h"
#include "disk/finish.h"
#include "disk/prepare.h"
#include "flows/device_search.h"
#include "flows/installer_child.h"
#include "flows/package_menu.h"
#include "flows/package_sources.h"
#include "packages/roots.h"
#include "platform/pending_interrupt.h"
#include "platform/platform.h"

namespace {

const char* const cdromDevices[] = {"/dev/hda", "/dev/hdb", "/dev/hdc", "/dev/hdd",
                                    "/dev/sr0", "/dev/sr1", "/dev/sr2", "/dev/sr3"};

bool MountCdrom(const char* device) {
  return MountFileSystem(device, "/floppy", "iso9660", MS_RDONLY | MS_MGC_VAL, nullptr) == 0;
}

enum class FeedResult { kFed, kReadError, kWriteError };

// Reads the next block of the file once it is readable, so that an interrupt while the medium
// keeps the installer waiting is carried out at once; -1 with EINTR when it woke the wait.
ssize_t ReadBlock(int file, unsigned char* block, size_t size) {
  if (WaitUntilReadable(file, -1) < 0) {
    return -1;
  }
  return read(file, block, size);
}

// Copies the file into the child in blocks of 4096 bytes; a descriptor of -1 is a read error.
FeedResult FeedFile(int file, FILE* child) {
  unsigned char block[4096];
  for (;;) {
    ssize_t count = file < 0 ? -1 : ReadBlock(file, block, sizeof block);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      return FeedResult::kReadError;
    }
    if (count == 0) {
      return FeedResult::kFed;
    }
    if (fwrite(block, 1, count, child) != static_cast<size_t>(count)) {
      return FeedResult::kWriteError;
    }
  }
}

// One package file through one installer child, counted in the tally; false after the step's
// message when the file could not be handed over.
bool InstallPackageFile(const SelectablePackage& p, InstallTally& tally) {
  PipedChild child = StartInstallerChild({.keepImage = true, .quiet = false});
  if (!child.IsOpen()) {
    puts("\nFATAL ERROR: couldn't start install");
    return false;
  }
  int file = open(p.path.c_str(), O_RDONLY);
  FeedResult result = FeedFile(file, child.Stream());
  if (result == FeedResult::kWriteError) {
    puts("");
  }
  bool installed = EndInstallerChild(child);
  if (file >= 0) {
    close(file);
  }
  if (result == FeedResult::kReadError) {
    puts("\nFATAL ERROR: corrupted CD-ROM");
  }
  CountInstallation(tally, p.name, installed);
  return result == FeedResult::kFed;
}

}  // namespace

bool InstallFromCdrom(TargetDisk& target) {
  if (SearchDevices(cdromDevices, MountCdrom) == nullptr) {
    puts("\nFATAL ERROR: no CD-ROM found");
    return false;
  }
  PackageList list;
  if (!ReadPackageFiles(list)) {
    return false;
  }
  PackageMenu menu = MakePackageMenu(list);
  if (!RunPackageMenu(menu)) {
    puts("Installation canceled");
    return false;
  }
  bool keep = AskYesNo("Do you want to keep old configuration? ");
  puts("\nWarning: all data on the disk will be erased!\n");
  if (!AskYesNo("Continue?")) {
    return false;
  }
  puts("");
  if (!PrepareDisk(target, keep)) {
    return false;
  }
  puts("");
  std::vector<SelectablePackage*> order;
  OrderSelectedPackages(list, order);
  InstallTally tally;
  for (const SelectablePackage* p : order) {
    if (!InstallPackageFile(*p, tally)) {
      return false;
    }
  }
  if (!AllInstalled(tally)) {
    return false;
  }
  WriteMarker("/CDINSTALL");  // tells the new system it came from a CD
  FinishInstalledSystem(target);
  puts("\nSoftware installed.");
  return true;
}
