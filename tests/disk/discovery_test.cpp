#include "disk/discovery.h"

#include <fstream>
#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
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

// Gives up after twenty seconds of the search (skipped by the test build's clock) before the disks
// come; a disk without a label is announced by its path.
TEST(FindTargetDisk, GivesUpAfterTwentyAttemptsAndTakesTheFirstListedDisk) {
  if (!SandboxAvailable()) {
    GTEST_SKIP() << kNeedsRoot;
  }
  SandboxRoot root({"/sbin/sfdisk"});
  root.Write(kGeometryFile, "/dev/sda: unknown geometry\n");
  SandboxOutcome outcome = RunInSandbox(root, [] {
    TargetDisk target;
    uint64_t start = SkippedMicroseconds();
    bool none = !FindTargetDisk(target);
    printf("searched %llu s\n",
           static_cast<unsigned long long>((SkippedMicroseconds() - start + 500000) / 1000000));
    std::ofstream disks(kGeometryFile);
    for (const char* disk : {"hde", "sda", "hdc", "hdd", "sdb"}) {
      disks << "/dev/" << disk << ": 2088 cylinders, 255 heads, 63 sectors/track\n";
    }
    disks.close();
    bool found = FindTargetDisk(target);
    printf("target %s, table", target.device);
    DiskInfo* table = ListDisks();
    for (int i = 0; table != nullptr && i < kDiskTableSize; ++i) {
      printf(" %s", table[i].device);
    }
    return none && found ? 0 : 1;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(root.Calls(), std::vector<std::string>(22, "exec /sbin/sfdisk -g"));
  // A second after each failed attempt, the last one too.
  EXPECT_THAT(
      outcome.output,
      testing::MatchesRegex("\nLooking for harddrives\\.{3}\\.*\n"
                            "\nFATAL ERROR: no harddrives found\nsearched 20 s\n"
                            "\nLooking for harddrives\\.{3}\\.*\n\nFound harddrive as /dev/hde\n"
                            "target /dev/hde, table /dev/hde /dev/sda /dev/hdc /dev/hdd"));
}

}  // namespace
