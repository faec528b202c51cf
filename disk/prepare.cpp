#include "disk/prepare.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/progress.h"
#include "disk/boot_program.h"
#include "disk/disk_names.h"
#include "disk/keep_config.h"
#include "disk/tools.h"
#include "packages/roots.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kBootPartitionBytes = 10485760;
// The partition table counts sectors of 512 bytes in 32 bits: nothing beyond 2 TiB is reachable.
constexpr uint64_t kAddressableBytes = uint64_t{0xFFFFFFFF} * 512;
// The EFI system partition of a machine started through UEFI holds its boot manager, kernel and
// initial RAM disk.
constexpr uint32_t kEfiPartitionBytes = 33554432;
// The smallest root partition the installation is tried on; mke2fs fails on much smaller ones.
constexpr uint64_t kSmallestRootBytes = 2 * 1048576;

// The device paths and file-system choices of one disk.
struct Layout {
  char disk[80];
  char first[80];
  char second[80];
  bool bootPartition;  // a separate /boot partition 1 and the root on partition 2
  uint32_t bootCylinders;
  uint32_t cylinders;    // those the partition table can address
  const char* rootType;  // "ext3" or "ext2"
  // Started through UEFI: an EFI system partition after the others, mounted at /boot/efi.
  bool efiPartition;
  uint32_t efiCylinders;
  char efi[80];
};

Layout LayoutOf(const TargetDisk& target) {
  Layout layout{};
  snprintf(layout.disk, sizeof layout.disk, "%s", target.device);
  snprintf(layout.first, sizeof layout.first, "%s", PartitionDevice(target.device, 1).c_str());
  snprintf(layout.second, sizeof layout.second, "%s", PartitionDevice(target.device, 2).c_str());
  layout.bootPartition = target.moreThan1023Cylinders;
  // The fewest whole cylinders that hold 10 MiB.
  layout.bootCylinders = (target.cylinderBytes + (kBootPartitionBytes - 1)) / target.cylinderBytes;
  layout.cylinders = static_cast<uint32_t>(
      std::min<uint64_t>(target.cylinders, kAddressableBytes / target.cylinderBytes));
  layout.rootType = target.largerThan40MiB ? "ext3" : "ext2";
  layout.efiPartition = StartedThroughUefi();
  layout.efiCylinders = layout.efiPartition
                            ? (kEfiPartitionBytes + target.cylinderBytes - 1) / target.cylinderBytes
                            : 0;
  int efiNumber = layout.bootPartition ? 3 : 2;
  snprintf(layout.efi, sizeof layout.efi, "%s", PartitionDevice(target.device, efiNumber).c_str());
  return layout;
}

uint64_t DiskBytes(const TargetDisk& target) {
  return uint64_t{target.cylinders} * target.cylinderBytes;
}

// Refuses a disk that cannot hold the layout, and warns about the part of a large disk that the
// partition table cannot reach, before anything on the disk is changed.
bool CheckDiskSize(const TargetDisk& target, const Layout& layout) {
  uint64_t otherCylinders = (layout.bootPartition ? layout.bootCylinders : 0) + layout.efiCylinders;
  uint64_t rootCylinders =
      layout.cylinders > otherCylinders ? layout.cylinders - otherCylinders : 0;
  uint64_t needed = otherCylinders * target.cylinderBytes + kSmallestRootBytes;
  if (rootCylinders * target.cylinderBytes < kSmallestRootBytes) {
    printf("ERROR: the disk is too small: %llu KiB, the installation needs at least %llu KiB\n",
           static_cast<unsigned long long>(DiskBytes(target) / 1024),
           static_cast<unsigned long long>(needed / 1024));
    return false;
  }
  if (layout.cylinders < target.cylinders) {
    printf(
        "WARNING: the partition table reaches only the first 2 TiB of this %llu GB disk; the "
        "rest stays unused\n",
        static_cast<unsigned long long>(DiskBytes(target) / 1000000000));
  }
  return true;
}

bool Mount(const char* device, const std::string& target, const char* type) {
  return MountFileSystem(device, target.c_str(), type, 0, nullptr) == 0;
}

bool MountBootPartition(const Layout& layout, BootMount boot) {
  if (boot == BootMount::kRootOnly) {
    return true;
  }
  std::string directory = TargetPath("/boot");
  if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
    // The mount below fails then and says so.
  }
  if (Mount(layout.first, directory, "ext2")) {
    return true;
  }
  UnmountFileSystem(TargetPath("").c_str());
  return false;
}

// The number of partition entries in the disk's current table.
bool CountOldPartitions(const Layout& layout, int& count) {
  PipedChild dump = OpenSfdiskOutput({"-d", "-uC", layout.disk});
  if (!dump.IsOpen()) {
    return false;
  }
  count = CountTableEntries(dump.Stream());
  dump.Close();
  return true;
}

bool Partition(const Layout& layout) {
  StartProgress("Creating partition...");
  int oldEntries = 0;
  PipedChild sfdisk;
  if (CountOldPartitions(layout, oldEntries)) {
    sfdisk = OpenSfdiskInput({"-q", "-uC", layout.disk, ">null"});
  }
  FILE* table = sfdisk.Stream();
  if (table == nullptr) {
    StopProgress();
    puts("ERROR: could not create partitions");
    return false;
  }
  int written = 1;
  uint32_t rootEnd = layout.cylinders - layout.efiCylinders;
  if (layout.bootPartition) {
    fprintf(table, "0,%u,83,*\n", layout.bootCylinders);
    fprintf(table, "%u,%u,83,-\n", layout.bootCylinders, rootEnd - layout.bootCylinders);
    written = 2;
  } else {
    fprintf(table, "0,%u,83,*\n", rootEnd);
  }
  if (layout.efiPartition) {
    fprintf(table, "%u,%u,ef,-\n", rootEnd, layout.efiCylinders);
    ++written;
  }
  // Every further entry of the old table is emptied.
  for (; written < oldEntries; ++written) {
    fputs("0,0,0\n", table);
  }
  sfdisk.Close();  // a rejected table shows when formatting fails
  StopProgress();
  return true;
}

// ext3 (with a journal) or ext2.
enum class Journal { kWithout, kWith };

Journal JournalFor(const TargetDisk& target) {
  return target.largerThan40MiB ? Journal::kWith : Journal::kWithout;
}

bool MakeFileSystem(const char* device, Journal journal) {
  int status = journal == Journal::kWith ? RunProgram(nullptr, "/sbin/mke2fs", {"-j", device})
                                         : RunProgram(nullptr, "/sbin/mke2fs", {device});
  return status == 0;
}

bool Format(const TargetDisk& target, const Layout& layout) {
  StartProgress("Formatting disk...");
  bool done;
  if (layout.bootPartition) {
    done = MakeFileSystem(layout.first, Journal::kWithout) &&
           MakeFileSystem(layout.second, JournalFor(target));
  } else {
    done = MakeFileSystem(layout.first, JournalFor(target));
  }
  if (done && layout.efiPartition) {
    done = RunProgram(nullptr, "/sbin/mkfs.vfat", {layout.efi}) == 0;
  }
  StopProgress();
  if (!done) {
    puts("ERROR: could not format partitions");
  }
  return done;
}

// Opens a configuration file of the new system for writing, with its directory.
FILE* CreateConfigurationFile(const std::string& path) {
  if (mkdir(TargetPath("/etc").c_str(), 0755) != 0) {
    // Ignored on purpose: an existing directory is fine, a missing one shows at the open.
  }
  return fopen(path.c_str(), "w");
}

void CloseConfigurationFile(FILE* file, const std::string& path) {
  fclose(file);
  chmod(path.c_str(), 0644);
}

bool WriteLiloConf(const Layout& layout) {
  std::string path = TargetPath("/etc/lilo.conf");
  FILE* file = CreateConfigurationFile(path);
  if (file == nullptr) {
    puts("ERROR: could not create lilo.conf");
    return false;
  }
  fprintf(file, "boot=%s\n", layout.first);
  fputs("map=/boot/map\n", file);
  fputs("install=/boot/boot.b\n", file);
  fputs("lba32\n", file);
  fputs("image=/boot/vmlinuz\n", file);
  fputs("  label=System\n", file);
  fprintf(file, "  root=%s\n", layout.bootPartition ? layout.second : layout.first);
  fputs("  read-only\n", file);
  CloseConfigurationFile(file, path);
  return true;
}

bool WriteFstab(const Layout& layout) {
  std::string path = TargetPath("/etc/fstab");
  FILE* file = CreateConfigurationFile(path);
  if (file == nullptr) {
    puts("ERROR: could not create fstab");
    return false;
  }
  if (layout.bootPartition) {
    fprintf(file, "%s  /     %s defaults 1 1\n", layout.second, layout.rootType);
    fprintf(file, "%s  /boot ext2 defaults 1 2\n", layout.first);
  } else {
    fprintf(file, "%s  /     %s defaults 1 1\n", layout.first, layout.rootType);
  }
  if (layout.efiPartition) {
    fprintf(file, "%s  /boot/efi vfat defaults 0 2\n", layout.efi);
  }
  fputs("none /proc proc defaults 0 0\n", file);
  fputs("none /dev/pts devpts gid=5,mode=620 0 0\n", file);
  CloseConfigurationFile(file, path);
  return true;
}

// The journalling root needs no check at boot; a missing marker only costs a check.
void WriteNoCheckMarker(const TargetDisk& target) {
  if (!target.largerThan40MiB) {
    return;
  }
  WriteMarker("/.nofsck", 0644);
}

void CreateBaseDirectories() {
  static const char* const directories[] = {"/rw", "/vela", "/vela/etc", "/var", "/var/pdb"};
  for (const char* shortName : directories) {
    if (mkdir(TargetPath(shortName).c_str(), 0755) != 0) {
      fprintf(stderr, "%s: %s\n", shortName, strerror(errno));
    }
  }
}

// The EFI system partition at /boot/efi of the new system, where the system's post-install script
// puts its boot manager.
bool MountEfiPartition(const Layout& layout) {
  if (!layout.efiPartition) {
    return true;
  }
  for (const char* directory : {"/boot", "/boot/efi"}) {
    if (mkdir(TargetPath(directory).c_str(), 0755) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return Mount(layout.efi, TargetPath("/boot/efi"), "vfat");
}

ConfigChunk* KeepConfiguration(const TargetDisk& target) {
  if (!MountTarget(target, BootMount::kRootOnly)) {
    puts("WARNING: couldn't keep config - couldn't mount file system");
    return nullptr;
  }
  ConfigChunk* kept = ReadOldConfiguration();
  UnmountFileSystem(TargetPath("/boot").c_str());
  UnmountFileSystem(TargetPath("").c_str());
  return kept;
}

// The steps between keeping and writing back, each printing its own message when it fails.
bool BuildNewSystem(const TargetDisk& target, const Layout& layout) {
  if (!Partition(layout)) {
    return false;
  }
  // A disk that never held a system gets the medium's boot program, which starts partition 1;
  // a disk without one would not boot by itself. The outcome does not stop the installation.
  InstallBootProgram(layout.disk, kMediumBootProgram);
  if (!Format(target, layout)) {
    return false;
  }
  if (!MountTarget(target, BootMount::kWithBoot) || !MountEfiPartition(layout)) {
    puts("ERROR: could not mount filesystem");
    return false;
  }
  if (!WriteLiloConf(layout) || !WriteFstab(layout)) {
    return false;
  }
  WriteNoCheckMarker(target);
  CreateBaseDirectories();
  return true;
}

}  // namespace

bool StartedThroughUefi() {
  return access("/sys/firmware/efi", F_OK) == 0;
}

bool MountTarget(const TargetDisk& target, BootMount boot) {
  Layout layout = LayoutOf(target);
  std::string root = TargetPath("");
  if (Mount(layout.second, root, "ext3")) {
    return MountBootPartition(layout, boot);
  }
  if (Mount(layout.first, root, "ext3")) {
    return true;  // a single-partition system has nothing at /boot
  }
  if (Mount(layout.second, root, "ext2")) {
    return MountBootPartition(layout, boot);
  }
  return Mount(layout.first, root, "ext2");
}

int CountTableEntries(FILE* dump) {
  int count = 0;
  char* line = nullptr;
  size_t capacity = 0;
  // Whole lines, however long: a piece of a long line is no entry even when it reads like one.
  while (getline(&line, &capacity, dump) >= 0) {
    count += strncmp(line, "/dev/", 5) == 0 ? 1 : 0;
  }
  free(line);
  return count;
}

bool PrepareDisk(const TargetDisk& target, bool keepConfiguration) {
  if (target.cylinderBytes == 0) {
    puts("ERROR: could not create partitions");  // no geometry: nothing can be laid out
    return false;
  }
  Layout layout = LayoutOf(target);
  if (!CheckDiskSize(target, layout)) {
    return false;
  }
  ConfigChunk* kept = keepConfiguration ? KeepConfiguration(target) : nullptr;
  if (!BuildNewSystem(target, layout)) {
    FreeChunks(kept);  // the old configuration is lost with the failed preparation
    return false;
  }
  if (kept != nullptr) {
    WriteBackConfiguration(kept);  // its outcome does not change the result
  }
  return true;
}
