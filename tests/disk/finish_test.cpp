#include "disk/finish.h"

#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

TargetDisk Disk(const char* geometry) {
  TargetDisk disk;
  EXPECT_TRUE(ParseGeometryLine(geometry, disk));
  return disk;
}

constexpr const char* kSingle = "/dev/sda: 1023 cylinders, 255 heads, 63 sectors/track";
constexpr const char* kBoot = "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track";

struct FinishCase {
  const char* name;
  const char* geometry;
  bool postInstallScript;
  const char* failLines;
  std::vector<std::string> calls;
  const char* output;
};

// Test logs name a case by its name instead of its bytes.
void PrintTo(const FinishCase& example, std::ostream* out) {
  *out << example.name;
}

class FinishTest : public testing::TestWithParam<FinishCase> {};

TEST_P(FinishTest, RunsTheFinishingProgramChecksWherePossibleAndUnmounts) {
  if (!SandboxAvailable()) {
    GTEST_SKIP() << kNeedsRoot;
  }
  const FinishCase& finish = GetParam();
  SandboxRoot root;
  root.Write("/.sandbox/fail", finish.failLines);
  // The new system is the root's /flash itself; its programs are the recording tool.
  for (const char* program : {"/flash/bin/bash", "/flash/bin/varo", "/flash/sbin/fsck"}) {
    root.InstallTool(program);
  }
  if (finish.postInstallScript) {
    root.Write("/flash/etc/rc.d/rc.postinstall", "#!/bin/bash\n");
  }
  TargetDisk disk = Disk(finish.geometry);
  SandboxOutcome outcome = RunInSandbox(root, [disk] {
    FinishInstalledSystem(disk);
    return 0;
  });
  EXPECT_EQ(root.Calls(), finish.calls);
  EXPECT_EQ(outcome.output, finish.output);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FinishTest,
    testing::Values(
        FinishCase{"postInstallScript",
                   kSingle,
                   true,
                   "",
                   {"chroot /flash", "exec /bin/bash -c /etc/rc.d/rc.postinstall", "sync",
                    "umount /flash/boot = -1", "mount /dev/sda1 /flash ext3 0x21 = 0",
                    "chroot /flash", "exec /sbin/fsck -d -v", "umount /flash = -1"},
                   "Checking disk integrity...\n"},
        FinishCase{"varo",
                   kSingle,
                   false,
                   "",
                   {"chroot /flash", "exec /bin/varo varo", "sync", "umount /flash/boot = -1",
                    "mount /dev/sda1 /flash ext3 0x21 = 0", "chroot /flash",
                    "exec /sbin/fsck -d -v", "umount /flash = -1"},
                   "Checking disk integrity...\n"},
        FinishCase{"bootLayoutSkipsTheCheck",
                   kBoot,
                   false,
                   "",
                   {"chroot /flash", "exec /bin/varo varo", "sync", "umount /flash/boot = -1",
                    "umount /flash = -1"},
                   ""},
        FinishCase{"failedRemountSkipsTheCheck",
                   kSingle,
                   false,
                   "mount /dev/sda1 /flash",
                   {"chroot /flash", "exec /bin/varo varo", "sync", "umount /flash/boot = -1",
                    "mount /dev/sda1 /flash ext3 0x21 = -1", "umount /flash = -1"},
                   ""}),
    [](const testing::TestParamInfo<FinishCase>& info) { return info.param.name; });

}  // namespace
