#include "disk/discovery.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/progress.h"
#include "disk/disk_names.h"
#include "disk/tools.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t k40MiB = 41943040;
constexpr int kSearchAttempts = 20;

struct DiskLabelEntry {
  const char* device;
  const char* label;
};

const DiskLabelEntry diskLabels[] = {
    {"/dev/hda", "IDE Primary master (disk C)"},
    {"/dev/hdb", "IDE Primary slave (disk D)"},
    {"/dev/hdc", "IDE Secondary master (disk E)"},
    {"/dev/hdd", "IDE Secondary slave (disk F)"},
    {"/dev/sda", "SATA 1"},
    {"/dev/sdb", "SATA 2"},
    {"/dev/sdc", "SATA 3"},
    {"/dev/sdd", "SATA 4"},
    {"/dev/sde", "SATA 5"},
    {"/dev/sdf", "SATA 6"},
    {"/dev/sdg", "SATA 7"},
    {"/dev/sdh", "SATA 8"},
};

DiskInfo diskTable[kDiskTableSize];

// The label under which a device is announced: "SATA 2" for /dev/sdb, the path itself when it has
// none.
const char* DiskLabel(const char* device) {
  for (const DiskLabelEntry& entry : diskLabels) {
    if (strcmp(entry.device, device) == 0) {
      return entry.label;
    }
  }
  return device;
}

const char* SkipBlanks(const char* text) {
  return text + strspn(text, " \t\n\v\f\r");
}

// Passes the blanks and the word after them; null when no word is left.
const char* SkipWord(const char* text) {
  text = SkipBlanks(text);
  return *text == '\0' ? nullptr : text + strcspn(text, " \t\n\v\f\r");
}

// Reads the unsigned decimal number after the blanks at text: digits only, since a sign would
// wrap a count around ("-1" read as 4294967295), and at most UINT32_MAX. Returns the position
// after it, or null (also for a null text).
const char* ReadCount(const char* text, uint32_t& value) {
  if (text == nullptr) {
    return nullptr;
  }
  text = SkipBlanks(text);
  if (!isdigit(static_cast<unsigned char>(*text))) {
    return nullptr;
  }
  uint64_t number = 0;
  for (; isdigit(static_cast<unsigned char>(*text)); ++text) {
    number = number * 10 + static_cast<uint64_t>(*text - '0');
    if (number > UINT32_MAX) {
      return nullptr;
    }
  }
  value = static_cast<uint32_t>(number);
  return text;
}

}  // namespace

bool ParseGeometryLine(const char* line, DiskInfo& disk) {
  if (strncmp(line, "/dev/", 5) != 0) {
    return false;
  }
  const char* deviceEnd = line + strcspn(line, " \t\n\v\f\r");
  uint32_t cylinders, heads, sectors;
  const char* rest = ReadCount(deviceEnd, cylinders);
  rest = rest != nullptr ? ReadCount(SkipWord(rest), heads) : nullptr;
  rest = rest != nullptr ? ReadCount(SkipWord(rest), sectors) : nullptr;
  if (rest == nullptr) {
    return false;
  }
  // An empty geometry would later divide by zero; an oversized one would wrap around.
  uint64_t cylinderBytes = uint64_t{heads} * sectors * 512;
  if (cylinders == 0 || cylinderBytes == 0 || cylinderBytes > UINT32_MAX) {
    return false;
  }
  size_t length = static_cast<size_t>(deviceEnd - line);
  if (line[length - 1] == ':') {
    --length;
  }
  size_t kept = std::min(length, sizeof disk.device - 1);
  memcpy(disk.device, line, kept);
  disk.device[kept] = '\0';
  disk.cylinders = cylinders;
  disk.cylinderBytes = static_cast<uint32_t>(cylinderBytes);
  disk.moreThan1023Cylinders = cylinders > 1023;
  disk.largerThan40MiB = uint64_t{cylinders} * cylinderBytes > k40MiB;
  return true;
}

namespace {

// Runs the geometry query once and records the whole disks it lists; returns how many.
int QueryDisks() {
  PipedChild sfdisk = OpenSfdiskOutput({"-g"});
  if (!sfdisk.IsOpen()) {
    return 0;
  }
  int count = 0;
  char line[128];
  while (count < kDiskTableSize && fgets(line, sizeof line, sfdisk.Stream()) != nullptr) {
    // A partition, loop or RAM device listed by some other tool is never a disk to install on.
    if (ParseGeometryLine(line, diskTable[count]) && IsWholeDiskDevice(diskTable[count].device)) {
      ++count;
    }
  }
  sfdisk.Close();  // the listing is what counts, not the tool's status
  return count;
}

// Whether a file system of the disk or of one of its partitions is mounted. That is the medium
// the installer was started from, when the medium is a disk; it is never installed on.
bool DiskInUse(const char* disk) {
  FILE* table = fopen(MountTablePath(), "r");
  if (table == nullptr) {
    return false;
  }
  bool used = false;
  char* line = nullptr;
  size_t capacity = 0;
  while (!used && getline(&line, &capacity, table) >= 0) {
    line[strcspn(line, " \t\n")] = '\0';
    used = DeviceOnDisk(line, disk);
  }
  free(line);
  fclose(table);
  return used;
}

// The first disk of one query that is not in use, or null.
const DiskInfo* FirstFreeDisk() {
  int count = QueryDisks();
  for (int i = 0; i < count; ++i) {
    if (!DiskInUse(diskTable[i].device)) {
      return &diskTable[i];
    }
  }
  return nullptr;
}

}  // namespace

DiskInfo* ListDisks() {
  return QueryDisks() > 0 ? diskTable : nullptr;
}

bool FindTargetDisk(TargetDisk& target) {
  puts("");
  StartProgress("Looking for harddrives...");
  const DiskInfo* disk = nullptr;
  // A USB disk appears seconds after its driver has loaded.
  for (int attempt = 0; attempt < kSearchAttempts && disk == nullptr; ++attempt) {
    disk = FirstFreeDisk();
    if (disk == nullptr) {
      SleepSeconds(1);
    }
  }
  StopProgress();
  if (disk == nullptr) {
    puts("\nFATAL ERROR: no harddrives found");
    return false;
  }
  target = *disk;
  puts("");
  printf("Found harddrive as %s\n", DiskLabel(target.device));
  return true;
}
