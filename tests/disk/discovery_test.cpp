#include "disk/discovery.h"

#include <cstring>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

TEST(ParseGeometryLine, ReadsTheToolsLinesAndRefusesWhatIsNoDisk) {
  struct {
    const char* line;
    const char* device;
    uint32_t cylinders;
    uint32_t cylinderBytes;
    bool moreThan1023Cylinders;
    bool largerThan40MiB;
  } cases[] = {
      {"/dev/sdb: 2088 cylinders, 255 heads, 63 sectors/track\n", "/dev/sdb", 2088, 8225280, true,
       true},
      {"/dev/hda 1023 c 255 h 63 s", "/dev/hda", 1023, 8225280, false, true},
      {"/dev/hdb: 80 cylinders, 16 heads, 64 sectors/track", "/dev/hdb", 80, 524288, false,
       false},  // exactly 40 MiB is not larger
      {"/dev/hdc: 81 cylinders, 16 heads, 64 sectors/track", "/dev/hdc", 81, 524288, false, true},
      {"/dev/sdc:: 1024 cylinders, 1 heads, 64 sectors/track", "/dev/sdc:", 1024, 32768, true,
       false},
  };
  for (const auto& example : cases) {
    DiskInfo disk;
    ASSERT_TRUE(ParseGeometryLine(example.line, disk)) << example.line;
    EXPECT_STREQ(disk.device, example.device);
    EXPECT_EQ(disk.cylinders, example.cylinders);
    EXPECT_EQ(disk.cylinderBytes, example.cylinderBytes);
    EXPECT_EQ(disk.moreThan1023Cylinders, example.moreThan1023Cylinders) << example.line;
    EXPECT_EQ(disk.largerThan40MiB, example.largerThan40MiB) << example.line;
  }
  const char* refused[] = {
      "Disk /dev/sda: 2088 cylinders, 255 heads, 63 sectors/track",
      "/dev/sda: unknown geometry",
      "/dev/sda: 2088 cylinders, 255 heads",
      "/dev/sda: 0 cylinders, 255 heads, 63 sectors/track",
      "/dev/sda: 2088 cylinders, 0 heads, 63 sectors/track",
      "/dev/sda: 10 cylinders, 4000000 heads, 4000000 sectors/track",
  };
  for (const char* line : refused) {
    DiskInfo disk;
    EXPECT_FALSE(ParseGeometryLine(line, disk)) << line;
  }
}

TEST(ParseGeometryLine, KeepsAtMost32CharactersOfALongDeviceWord) {
  std::string device = "/dev/" + std::string(100, 'x');
  DiskInfo disk;
  ASSERT_TRUE(ParseGeometryLine((device + ": 10 c, 255 h, 63 s").c_str(), disk));
  EXPECT_EQ(std::string(disk.device), device.substr(0, 32));
}

TEST(DiskLabel, NamesKnownDevicesAndLeavesOthersAsTheirPath) {
  EXPECT_STREQ(DiskLabel("/dev/hda"), "IDE Primary master (disk C)");
  EXPECT_STREQ(DiskLabel("/dev/hdd"), "IDE Secondary slave (disk F)");
  EXPECT_STREQ(DiskLabel("/dev/sdb"), "SATA 2");
  EXPECT_STREQ(DiskLabel("/dev/sdh"), "SATA 8");
  EXPECT_STREQ(DiskLabel("/dev/hde"), "/dev/hde");
}

class DiscoveryTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<SandboxRoot>();
    root_->InstallTool("/sbin/sfdisk");
  }
  std::unique_ptr<SandboxRoot> root_;
};

TEST_F(DiscoveryTest, FirstListedDiskBecomesTheTargetAndIsAnnouncedByItsLabel) {
  root_->Write("/.sandbox/sfdisk-g",
               "/dev/sdb: 2088 cylinders, 255 heads, 63 sectors/track\n"
               "/dev/sda: 1023 cylinders, 255 heads, 63 sectors/track\n");
  SandboxOutcome outcome = RunInSandbox(*root_, [] {
    TargetDisk target;
    return FindTargetDisk(target) && strcmp(target.device, "/dev/sdb") == 0 &&
                   target.cylinders == 2088
               ? 0
               : 1;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.output, "\nLooking for harddrives...\n\nFound harddrive as SATA 2\n");
  EXPECT_EQ(root_->Calls(), std::vector<std::string>{"exec /sbin/sfdisk -g"});
}

TEST_F(DiscoveryTest, QueryKeepsFourDisksSkipsOtherLinesAndLeavesOlderEntriesBehind) {
  root_->Write("/.sandbox/sfdisk-g",
               "\n/dev/hda: 10 cylinders, 16 heads, 63 sectors/track\nnoise\n"
               "/dev/hdb: 11 cylinders, 16 heads, 63 sectors/track\n"
               "/dev/hdc: 12 cylinders, 16 heads, 63 sectors/track\n"
               "/dev/hdd: 13 cylinders, 16 heads, 63 sectors/track\n"
               "/dev/sda: 14 cylinders, 16 heads, 63 sectors/track\n");
  // Inside the root, the fixture is rewritten between the queries.
  SandboxOutcome outcome = RunInSandbox(*root_, [] {
    DiskInfo* first = ListDisks();
    std::string devices;
    for (int i = 0; first != nullptr && i < kDiskTableSize; ++i) {
      devices += std::string(first[i].device) + " ";
    }
    std::ofstream("/.sandbox/sfdisk-g") << "/dev/sdc: 14 cylinders, 16 heads, 63 sectors/track\n";
    DiskInfo* second = ListDisks();
    for (int i = 0; second != nullptr && i < kDiskTableSize; ++i) {
      devices += std::string(second[i].device) + " ";
    }
    std::ofstream("/.sandbox/sfdisk-g") << "no disks\n";
    printf("%s%s", devices.c_str(), ListDisks() == nullptr ? "none" : "some");
    return 0;
  });
  EXPECT_EQ(outcome.output,
            "/dev/hda /dev/hdb /dev/hdc /dev/hdd /dev/sdc /dev/hdb /dev/hdc /dev/hdd none");
}

}  // namespace

namespace {

// Takes the twenty seconds of the real search.
TEST_F(DiscoveryTest, NoDiskAfterTwentyAttemptsIsFatal) {
  root_->Write("/.sandbox/sfdisk-g", "/dev/sda: unknown geometry\n");
  SandboxOutcome outcome = RunInSandbox(*root_, [] {
    TargetDisk target;
    return FindTargetDisk(target) ? 1 : 0;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.output.substr(0, 26), "\nLooking for harddrives...");
  std::string end = "\n\nFATAL ERROR: no harddrives found\n";
  ASSERT_GT(outcome.output.size(), end.size());
  EXPECT_EQ(outcome.output.substr(outcome.output.size() - end.size()), end);
  EXPECT_EQ(root_->Calls(), std::vector<std::string>(20, "exec /sbin/sfdisk -g"));
}

}  // namespace
