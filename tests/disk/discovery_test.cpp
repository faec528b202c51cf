#include "disk/discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "disk/disk_names.h"

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/support/sandbox_layout.h"
#include "tests/support/sandbox_root.h"

namespace {

// What the next steps see of a disk: its path, geometry and the flags that choose the layout.
std::string Describe(const DiskInfo& disk) {
  return std::string(disk.device) + " " + std::to_string(disk.cylinders) + "x" +
         std::to_string(disk.cylinderBytes) + (disk.moreThan1023Cylinders ? " >1023" : "") +
         (disk.largerThan40MiB ? " >40MiB" : "");
}

TEST(ParseGeometryLine, ReadsTheToolsLinesAndRefusesWhatIsNoDisk) {
  const std::string longDevice = "/dev/" + std::string(100, 'x');
  const struct {
    std::string line;
    std::string disk;  // empty: refused
  } cases[] = {
      {"/dev/sdb: 2088 cylinders, 255 heads, 63 sectors/track\n",
       "/dev/sdb 2088x8225280 >1023 >40MiB"},
      {"/dev/hda 1023 c 255 h 63 s", "/dev/hda 1023x8225280 >40MiB"},
      {"/dev/hdb: 80 cylinders, 16 heads, 64 sectors/track", "/dev/hdb 80x524288"},  // 40 MiB
      {"/dev/hdc: 81 cylinders, 16 heads, 64 sectors/track", "/dev/hdc 81x524288 >40MiB"},
      // A long device word once ran past the 32 characters of the field.
      {longDevice + ": 10 c, 255 h, 63 s", longDevice.substr(0, 32) + " 10x8225280 >40MiB"},
      {"Disk /dev/sda: 2088 cylinders, 255 heads, 63 sectors/track", ""},
      {"/dev/sda: unknown geometry", ""},
      // Empty geometries would divide by zero later, oversized ones wrap around.
      {"/dev/sda: 0 cylinders, 255 heads, 63 sectors/track", ""},
      {"/dev/sda: 2088 cylinders, 0 heads, 63 sectors/track", ""},
      {"/dev/sda: 10 cylinders, 4000000 heads, 4000000 sectors/track", ""},
      // Found by fuzzing: a signed or oversized count was read as a huge one ("-1" as 4294967295).
      {"/dev/sda: -1 cylinders, 255 heads, 63 sectors/track", ""},
      {"/dev/sda: 10 cylinders, -255 heads, -63 sectors/track", ""},
      {"/dev/sda: +10 cylinders, 255 heads, 63 sectors/track", ""},
      {"/dev/sda: 4294967297 cylinders, 255 heads, 63 sectors/track", ""},
      {"/dev/sda: 4294967295 cylinders, 1 heads, 1 sectors/track",
       "/dev/sda 4294967295x512 >1023 >40MiB"},
      {"/dev/sda: 10 cylinders, 255 heads", ""},
      // Found by fuzzing: the count was read from the end of a device word over 127 characters.
      {"/dev/" + std::string(122, 'x') + "12 c, 255 h, 63 s", ""},
  };
  for (const auto& example : cases) {
    DiskInfo disk;
    bool parsed = ParseGeometryLine(example.line.c_str(), disk);
    EXPECT_EQ(parsed ? Describe(disk) : "", example.disk) << example.line;
  }
}

// Every kind of block device the kernel shows in /sys/block, as a whole disk or not, with the
// name of its second partition.
const struct {
  const char* name;
  bool wholeDisk;
  const char* secondPartition;
  const char* sysfs;  // what else its /sys/block entry holds: "cdrom", "empty", "partition"
} kBlockDevices[] = {
    {"hda", true, "/dev/hda2", ""},
    {"hdc", true, "/dev/hdc2", "cdrom"},  // an IDE CD drive on the old IDE driver
    {"sda", true, "/dev/sda2", ""},
    {"sdaa", true, "/dev/sdaa2", ""},
    {"sdb", true, "/dev/sdb2", "empty"},  // a card reader without a card
    {"vda", true, "/dev/vda2", ""},
    {"xvdb", true, "/dev/xvdb2", ""},
    {"nvme0n1", true, "/dev/nvme0n1p2", ""},
    {"nvme12n3", true, "/dev/nvme12n3p2", ""},
    {"mmcblk0", true, "/dev/mmcblk0p2", ""},
    {"sda1", false, "", "partition"},
    {"nvme0n1p1", false, "", "partition"},
    {"mmcblk0p1", false, "", "partition"},
    {"mmcblk0boot0", false, "", ""},
    {"mmcblk0rpmb", false, "", ""},
    {"nvme0c0n1", false, "", ""},
    {"nvme0", false, "", ""},
    {"sr0", false, "", ""},
    {"loop0", false, "", ""},
    {"ram0", false, "", ""},
    {"zram0", false, "", ""},
    {"dm-0", false, "", ""},
    {"md0", false, "", ""},
    {"fd0", false, "", ""},
};

TEST(DiskNames, WholeDisksAndTheirPartitionsInBothNamingSchemes) {
  for (const auto& device : kBlockDevices) {
    std::string path = std::string("/dev/") + device.name;
    EXPECT_EQ(IsWholeDiskDevice(path.c_str()), device.wholeDisk) << path;
    if (device.wholeDisk) {
      std::string second = PartitionDevice(path.c_str(), 2);
      EXPECT_EQ(second, device.secondPartition);
      EXPECT_TRUE(DeviceOnDisk(second.c_str(), path.c_str())) << second;
      EXPECT_TRUE(DeviceOnDisk(path.c_str(), path.c_str())) << path;
    }
  }
  // The neighbours of a disk are not on it.
  EXPECT_FALSE(DeviceOnDisk("/dev/sdaa1", "/dev/sda"));
  EXPECT_FALSE(DeviceOnDisk("/dev/nvme0n12", "/dev/nvme0n1"));
  EXPECT_FALSE(DeviceOnDisk("/dev/nvme0n1p", "/dev/nvme0n1"));
  EXPECT_FALSE(DeviceOnDisk("/dev/mmcblk0boot0", "/dev/mmcblk0"));
  EXPECT_FALSE(DeviceOnDisk("/dev/sd", "/dev/sda"));
}

// The medium's geometry query and the installer must agree on what a whole disk is, or a disk would
// be listed and then passed over (or offered when it is a CD). 16777216 sectors: 1044 cylinders.
TEST(DiskNames, TheMediumsGeometryQueryListsTheSameDisks) {
  SandboxRoot sys;  // only a temporary tree here: nothing runs inside it
  std::vector<std::string> expected;
  for (const auto& device : kBlockDevices) {
    std::string entry = std::string("/block/") + device.name;
    sys.MakeDirectory(entry + "/device");
    sys.Write(entry + "/size", strcmp(device.sysfs, "empty") == 0 ? "0\n" : "16777216\n");
    if (strcmp(device.sysfs, "cdrom") == 0) {
      sys.Write(entry + "/device/media", "cdrom\n");
    }
    if (strcmp(device.sysfs, "partition") == 0) {
      sys.Write(entry + "/partition", "1\n");
    }
    if (device.wholeDisk && device.sysfs[0] == '\0') {
      expected.push_back(std::string("/dev/") + device.name +
                         ": 1044 cylinders, 255 heads, 63 sectors/track\n");
    }
  }
  std::sort(expected.begin(), expected.end());  // the shell's order, in which disks are taken
  std::string command = "SFDISK_SYS_BLOCK=" + sys.HostPath("/block") +
                        " sh " VELA_SOURCE_DIR "/scripts/medium/sfdisk -g";
  FILE* query = popen(command.c_str(), "r");
  ASSERT_NE(query, nullptr);
  std::vector<std::string> listed;
  for (char line[256]; fgets(line, sizeof line, query) != nullptr;) {
    listed.push_back(line);
  }
  EXPECT_EQ(pclose(query), 0);
  EXPECT_EQ(listed, expected);
}

// The disk the installer was started from holds a mounted file system and is passed over; the
// table keeps the first four whole disks.
TEST(FindTargetDisk, GivesUpAfterTwentyAttemptsAndTakesTheFirstFreeWholeDisk) {
  if (!SandboxAvailable()) {
    GTEST_SKIP() << kNeedsRoot;
  }
  SandboxRoot root({"/sbin/sfdisk"});
  root.Write(kGeometryFile, "/dev/sda: unknown geometry\n");
  root.Write(kMountTableFile, "proc /proc proc rw 0 0\n/dev/sda1 /cdrom vfat ro 0 0\n");
  SandboxOutcome outcome = RunInSandbox(root, [] {
    TargetDisk target;
    uint64_t start = SkippedMicroseconds();
    bool none = !FindTargetDisk(target);
    printf("searched %llu s\n",
           static_cast<unsigned long long>((SkippedMicroseconds() - start + 500000) / 1000000));
    std::ofstream disks(kGeometryFile);
    for (const char* disk : {"loop0", "sda", "sda1", "nvme0n1", "hde", "hdc", "hdd"}) {
      disks << "/dev/" << disk << ": 2088 cylinders, 255 heads, 63 sectors/track\n";
    }
    disks.close();
    bool found = FindTargetDisk(target);
    printf("target %s, table", target.device);
    DiskInfo* table = ListDisks();
    for (int i = 0; table != nullptr && i < kDiskTableSize; ++i) {
      printf(" %s", table[i].device);
    }
    // With that disk in use too, the next one is taken.
    std::ofstream(kMountTableFile, std::ios::app) << "/dev/nvme0n1p2 /mnt ext3 rw 0 0\n";
    return none && found && FindTargetDisk(target) ? 0 : 1;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(root.Calls(), std::vector<std::string>(23, "exec /sbin/sfdisk -g"));
  // A second after each failed attempt, the last one too.
  EXPECT_THAT(outcome.output,
              testing::MatchesRegex(
                  "\nLooking for harddrives\\.{3}\\.*\n"
                  "\nFATAL ERROR: no harddrives found\nsearched 20 s\n"
                  "\nLooking for harddrives\\.{3}\\.*\n\nFound harddrive as /dev/nvme0n1\n"
                  "target /dev/nvme0n1, table /dev/sda /dev/nvme0n1 /dev/hde /dev/hdc"
                  "\nLooking for harddrives\\.{3}\\.*\n\nFound harddrive as /dev/hde\n"));
}

}  // namespace
