#include "disk/discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "disk/tools.h"

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

}  // namespace

bool ParseGeometryLine(const char* line, DiskInfo& disk) {
  if (strncmp(line, "/dev/", 5) != 0) {
    return false;
  }
  char device[128];
  unsigned cylinders, heads, sectors;
  if (sscanf(line, "%127s %u %*s %u %*s %u", device, &cylinders, &heads, &sectors) != 4) {
    return false;
  }
  // An empty geometry would later divide by zero; an oversized one would wrap around.
  uint64_t cylinderBytes = uint64_t{heads} * sectors * 512;
  if (cylinders == 0 || cylinderBytes == 0 || cylinderBytes > UINT32_MAX) {
    return false;
  }
  size_t length = strlen(device);
  if (device[length - 1] == ':') {
    device[length - 1] = '\0';
  }
  size_t kept = std::min(strlen(device), sizeof disk.device - 1);
  memcpy(disk.device, device, kept);
  disk.device[kept] = '\0';
  disk.cylinders = cylinders;
  disk.cylinderBytes = static_cast<uint32_t>(cylinderBytes);
  disk.moreThan1023Cylinders = cylinders > 1023;
  disk.largerThan40MiB = uint64_t{cylinders} * cylinderBytes > k40MiB;
  return true;
}

DiskInfo* ListDisks() {
  FILE* output = OpenSfdiskOutput({"-g"});
  if (output == nullptr) {
    return nullptr;
  }
  int count = 0;
  char line[128];
  while (count < kDiskTableSize && fgets(line, sizeof line, output) != nullptr) {
    if (ParseGeometryLine(line, diskTable[count])) {
      ++count;
    }
  }
  ClosePipedChild(output);  // the listing is what counts, not the tool's status
  return count > 0 ? diskTable : nullptr;
}

bool FindTargetDisk(TargetDisk& target) {
  puts("");
  StartProgress("Looking for harddrives...");
  DiskInfo* table = nullptr;
  for (int attempt = 0; attempt < kSearchAttempts && table == nullptr; ++attempt) {
    table = ListDisks();
    if (table == nullptr) {
      SleepSeconds(1);
    }
  }
  StopProgress();
  if (table == nullptr) {
    puts("\nFATAL ERROR: no harddrives found");
    return false;
  }
  target = table[0];
  puts("");
  printf("Found harddrive as %s\n", DiskLabel(target.device));
  return true;
}
