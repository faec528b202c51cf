#include "disk/finish.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/sandbox_layout.h"
#include "tests/support/sandbox_root.h"

namespace {

TEST(FinishInstalledSystem, RunsTheFinishingProgramChecksWherePossibleAndUnmounts) {
  if (!SandboxAvailable()) {
    GTEST_SKIP() << kNeedsRoot;
  }
  const char* single = "/dev/sda: 1023 cylinders, 255 heads, 63 sectors/track";
  const char* boot = "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track";
  const std::vector<std::string> check = {"mount /dev/sda1 /flash ext3 0x21 = 0", "chroot /flash",
                                          "exec /sbin/fsck -d -v"};
  const std::vector<std::string> noRemount = {"mount /dev/sda1 /flash ext3 0x21 = -1"};
  const struct {
    const char* geometry;
    const char* script;  // the new system's post-install script, when it has one
    const char* failLines;
    const char* program;
    std::vector<std::string> check;
  } cases[] = {
      {single, "#!/bin/bash\n", "", "exec /bin/bash -c /etc/rc.d/rc.postinstall", check},
      {single, nullptr, "", "exec /bin/varo varo", check},
      {boot, nullptr, "", "exec /bin/varo varo", {}},
      {single, nullptr, "mount /dev/sda1 /flash", "exec /bin/varo varo", noRemount},
  };
  for (const auto& finish : cases) {
    SCOPED_TRACE(std::string(finish.geometry) + " " + finish.program + " " + finish.failLines);
    // The new system is the root's /flash itself; its programs are the recording tool.
    SandboxRoot root({"/flash/bin/bash", "/flash/bin/varo", "/flash/sbin/fsck"});
    root.Write(kFailFile, finish.failLines);
    if (finish.script != nullptr) {
      root.Write("/flash/etc/rc.d/rc.postinstall", finish.script);
    }
    TargetDisk disk;
    ASSERT_TRUE(ParseGeometryLine(finish.geometry, disk));
    SandboxOutcome outcome = RunInSandbox(root, [disk] {
      FinishInstalledSystem(disk);
      return 0;
    });
    std::vector<std::string> calls = {"chroot /flash", finish.program, "sync",
                                      "umount /flash/boot = -1"};
    calls.insert(calls.end(), finish.check.begin(), finish.check.end());
    calls.push_back("umount /flash = -1");
    EXPECT_EQ(root.Calls(), calls);
    // Once, the ending wrote it after "/flash" was unmounted: onto the installation medium.
    EXPECT_TRUE(root.Exists("/flash/SHOW_LICENSE"));
    EXPECT_EQ(outcome.output, finish.check.size() == 3 ? "Checking disk integrity...\n" : "");
  }
}

}  // namespace
