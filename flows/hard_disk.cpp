#include "flows/hard_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/progress.h"
#include "disk/finish.h"
#include "disk/prepare.h"
#include "flows/device_search.h"
#include "flows/installer_child.h"
#include "flows/package_menu.h"
#include "flows/package_sources.h"
#include "packages/roots.h"
#include "platform/kernel_modules.h"
#include "platform/memory_figures.h"
#include "platform/platform.h"

namespace {

// After the IDE and SCSI names come today's disks, so an old PC is searched as it always was.
const char* const hardDiskDevices[] = {
    "/dev/hda", "/dev/hdb",  "/dev/hdc",     "/dev/hdd",     "/dev/sda",
    "/dev/sdb", "/dev/sdc",  "/dev/sdd",     "/dev/sde",     "/dev/sdf",
    "/dev/sdg", "/dev/sdh",  "/dev/nvme0n1", "/dev/nvme1n1", "/dev/vda",
    "/dev/vdb", "/dev/xvda", "/dev/xvdb",    "/dev/mmcblk0", "/dev/mmcblk1"};

constexpr size_t kMaxPackages = 50;
constexpr size_t kBootRecordSize = 512;
constexpr size_t kBlockSize = 4096;
// Left to the running installation system and the children while the material is held.
constexpr std::uint64_t kMemoryMargin = 16 << 20;

// A whole file in memory.
using FileBuffer = std::vector<unsigned char>;

// Everything the flow holds in memory once the installation disk is unmounted.
struct Material {
  std::array<FileBuffer, kMaxPackages> packages{};
  FileBuffer script;
  unsigned char bootRecord[kBootRecordSize] = {};
};

// Reads the whole file at `path` into `buffer`. Returns false (printing nothing) when the file
// cannot be opened, examined, held in memory or read to its stated size.
bool ReadWholeFile(const char* path, FileBuffer& buffer) {
  buffer.clear();
  int descriptor = open(path, O_RDONLY);
  if (descriptor < 0) {
    return false;
  }
  struct stat status;
  bool fits = fstat(descriptor, &status) == 0 && status.st_size <= UINT32_MAX;
  size_t size = fits ? static_cast<size_t>(status.st_size) : 0;
  buffer.resize(size);
  size_t done = 0;
  while (done < size) {
    ssize_t count = read(descriptor, buffer.data() + done, size - done);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;  // an error, or a file shorter than its status said
    }
    done += static_cast<size_t>(count);
  }
  close(descriptor);
  return fits && done == size;
}

bool Exists(const char* path) {
  struct stat status;
  return stat(path, &status) == 0;
}

// The installation disk holds both "mbr" and "autorun.scr"; it stays mounted on "/floppy".
bool MountInstallationDisk(const char* device) {
  if (MountFileSystem(device, "/floppy", "vfat", 0, nullptr) != 0) {
    return false;
  }
  if (Exists("/floppy/mbr") && Exists("/floppy/autorun.scr")) {
    return true;
  }
  UnmountFileSystem("/floppy");  // a disk without the material is left as it was
  return false;
}

bool ChooseFlagSet() {
  FILE* marker = fopen("/floppy/CHOOSE", "r");
  if (marker == nullptr) {
    return false;
  }
  fclose(marker);
  return true;
}

// The menu when the medium asks for a choice, everything otherwise.
bool SelectPackages(const PackageList& list, bool choose) {
  if (!choose) {
    for (const auto& p : list) {
      p->selected = true;
    }
    return true;
  }
  PackageMenu menu = MakePackageMenu(list);
  if (!RunPackageMenu(menu)) {
    puts("Installation canceled");
    return false;
  }
  return true;
}

std::uint64_t FileSize(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

// The material is read whole before the disk is erased, so a medium that cannot be held is
// refused while the disk is still untouched.
bool MaterialFitsInMemory(const std::vector<SelectablePackage*>& order) {
  if (order.size() > kMaxPackages) {
    printf("\nFATAL ERROR: %zu packages to install, at most %zu fit in memory\n", order.size(),
           kMaxPackages);
    return false;
  }
  std::uint64_t needed = FileSize("/floppy/autorun.scr");
  for (const SelectablePackage* p : order) {
    needed += FileSize(p->path.c_str());
  }
  std::map<std::string, std::uint64_t> figures;
  // Without the figure (an old kernel) the reading itself tells.
  bool known = ReadMemoryFigures("/proc/meminfo", figures) && figures.count("MemAvailable") != 0;
  std::uint64_t available = known ? figures["MemAvailable"] * 1024 : 0;
  if (known && needed + kMemoryMargin > available) {
    printf("\nFATAL ERROR: the packages need %llu KiB of memory, only %llu KiB are available\n",
           static_cast<unsigned long long>(needed >> 10),
           static_cast<unsigned long long>(available >> 10));
    return false;
  }
  return true;
}

bool ReadPackagesIntoMemory(const std::vector<SelectablePackage*>& order, Material& material) {
  for (size_t i = 0; i < order.size(); ++i) {
    printf("Reading: %s...", DisplayName(*order[i]).c_str());
    StartProgress("");
    bool read = ReadWholeFile(order[i]->path.c_str(), material.packages[i]);
    StopProgress();
    if (!read) {
      printf("\nFATAL ERROR: could not read file %s\n", order[i]->path.c_str());
      return false;
    }
  }
  return true;
}

bool ReadBootRecord(unsigned char (&record)[kBootRecordSize]) {
  int file = open("/floppy/mbr", O_RDONLY);
  if (file < 0) {
    puts("\nFATAL ERROR: Couldn't open mbr file");
    return false;
  }
  bool read = ::read(file, record, kBootRecordSize) == kBootRecordSize;
  close(file);
  if (!read) {
    puts("\nFATAL ERROR: Couldn't read mbr file");
  }
  return read;
}

bool WriteBootRecord(const char* device, const unsigned char (&record)[kBootRecordSize]) {
  int disk = open(device, O_WRONLY);
  if (disk < 0) {
    puts("\nFATAL ERROR: Couldn't open disk");
    return false;
  }
  bool written = write(disk, record, kBootRecordSize) == kBootRecordSize;
  close(disk);
  if (!written) {
    puts("\nFATAL ERROR: Couldn't write to disk");
  }
  return written;
}

// The target is the installation disk itself, as the geometry query describes it.
bool FindListedDisk(const char* device, TargetDisk& target) {
  const DiskInfo* disks = ListDisks();
  for (int i = 0; disks != nullptr && i < kDiskTableSize; ++i) {
    if (strcmp(disks[i].device, device) == 0) {
      target = disks[i];
      return true;
    }
  }
  puts("\nFATAL ERROR: Couldn't find the disk!");
  return false;
}

bool FeedBuffer(const FileBuffer& buffer, FILE* child) {
  for (size_t position = 0; position < buffer.size();) {
    size_t count = std::min<size_t>(kBlockSize, buffer.size() - position);
    if (fwrite(buffer.data() + position, 1, count, child) != count) {
      return false;
    }
    position += count;
  }
  return true;
}

// Installs the packages read into memory, counting each in the tally; false after the step's
// message when one could not be handed over.
bool InstallFromMemory(const std::vector<SelectablePackage*>& order, Material& material,
                       InstallTally& tally) {
  for (size_t i = 0; i < order.size(); ++i) {
    PipedChild child = StartInstallerChild({.keepImage = true, .quiet = false});
    if (!child.IsOpen()) {
      puts("\nFATAL ERROR: Couldn't start install");
      return false;
    }
    bool fed = FeedBuffer(material.packages[i], child.Stream());
    if (!fed) {
      puts("");
    }
    CountInstallation(tally, order[i]->name, EndInstallerChild(child));
    material.packages[i] = FileBuffer();  // its memory goes back before the next package
    if (!fed) {
      return false;
    }
  }
  return true;
}

// The directory's mode is that of the systems installed this way, which rely on it.
bool WriteConfigurationScript(const FileBuffer& script) {
  std::string directory = TargetPath("/rw");
  if (mkdir(directory.c_str(), 0666) != 0) {
    // An existing directory is fine; any other failure shows when the file is created.
  }
  FILE* file = fopen((directory + "/autorun.scr").c_str(), "w");
  if (file == nullptr) {
    puts("\nFATAL ERROR: couldn't make script");
    return false;
  }
  bool written = script.empty() || fwrite(script.data(), script.size(), 1, file) == 1;
  if (fclose(file) != 0) {
    written = false;
  }
  if (!written) {
    puts("\nFATAL ERROR: Writing configuration failed");
  }
  return written;
}

}  // namespace

bool InstallFromHardDisk(TargetDisk& target) {
  ShowWelcome("hard disk installation");
  puts("\nLoading drivers");
  LoadModuleList(diskDriverModules);
  LoadModuleList(usbModules);
  StartProgress("Looking for harddrives...");
  const char* disk = SearchDevices(hardDiskDevices, MountInstallationDisk);
  StopProgress();
  if (disk == nullptr) {
    puts("\nFATAL ERROR: No hard disk found");
    return false;
  }
  bool choose = ChooseFlagSet();
  PackageList list;
  if (!ReadPackageFiles(list) || !SelectPackages(list, choose)) {
    return false;
  }
  std::vector<SelectablePackage*> order;
  OrderSelectedPackages(list, order);
  Material material;
  if (!MaterialFitsInMemory(order) || !ReadPackagesIntoMemory(order, material)) {
    return false;
  }
  if (!ReadWholeFile("/floppy/autorun.scr", material.script)) {
    puts("\nFATAL ERROR: could not read configuration");
    return false;
  }
  if (!choose && !ReadBootRecord(material.bootRecord)) {
    return false;
  }
  UnmountFileSystem("/floppy");  // the next steps destroy the file system under it
  if ((!choose && !WriteBootRecord(disk, material.bootRecord)) || !FindListedDisk(disk, target)) {
    return false;
  }
  puts("");
  // The whole disk is rewritten from the medium's configuration; nothing old is kept.
  bool keepConfiguration = false;
  if (!PrepareDisk(target, keepConfiguration)) {
    return false;
  }
  puts("");
  InstallTally tally;
  if (!InstallFromMemory(order, material, tally) || !AllInstalled(tally) ||
      !WriteConfigurationScript(material.script)) {
    return false;
  }
  FinishInstalledSystem(target);
  puts("\nSoftware installed.");
  SleepSeconds(2);
  return true;
}
