#include "startup/modules.h"

#include <sys/utsname.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

class ModulesTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    utsname system{};
    uname(&system);
    directory_ = std::string("/lib/modules/") + system.release + "/";
  }

  std::string directory_;
};

TEST_F(ModulesTest, ListLoadsPresentModulesInOrderAndSkipsMissingOnesSilently) {
  SandboxRoot root;
  root.Write(directory_ + "kernel/drivers/usb/usb-common.ko", "common");
  root.Write(directory_ + "kernel/drivers/usb/storage/usb-storage.ko", "storage");
  SandboxOutcome outcome = RunInSandbox(root, [] {
    LoadModuleList(usbModules);
    return 0;
  });
  EXPECT_EQ(outcome.output, "");
  const std::vector<std::string> expected = {
      "init_module " + directory_ + "kernel/drivers/usb/usb-common.ko 6 \"\" = 0",
      "init_module " + directory_ + "kernel/drivers/usb/storage/usb-storage.ko 7 \"\" = 0",
  };
  EXPECT_EQ(root.Calls(), expected);
}

TEST_F(ModulesTest, EmptyModuleFileCannotBeMappedAndIsReportedByItsRelativePath) {
  SandboxRoot root;
  root.Write(directory_ + "kernel/fs/ext2/ext2.ko", "");
  root.Write(directory_ + "kernel/fs/ext3/ext3.ko", "ext3");
  SandboxOutcome outcome = RunInSandbox(root, [] {
    bool failed = LoadModule("kernel/fs/ext2/ext2.ko") == -1;
    bool missing = LoadModule("kernel/fs/ext4/ext4.ko") == -1;
    bool loaded = LoadModule("kernel/fs/ext3/ext3.ko") == 0;
    return failed && missing && loaded ? 0 : 1;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.output, "ERROR: could not load module kernel/fs/ext2/ext2.ko\n");
  ASSERT_EQ(root.Calls().size(), 1u);
  EXPECT_EQ(root.Calls()[0], "init_module " + directory_ + "kernel/fs/ext3/ext3.ko 4 \"\" = 0");
}

TEST_F(ModulesTest, KernelRefusalIsSilentAndTheNextModuleIsStillLoaded) {
  SandboxRoot root;
  root.Write(directory_ + "kernel/fs/ext2/ext2.ko", "ext2");
  root.Write(directory_ + "kernel/fs/ext3/ext3.ko", "ext3");
  root.Write("/.sandbox/fail", "init_module " + directory_ + "kernel/fs/ext2\n");
  SandboxOutcome outcome = RunInSandbox(root, [] {
    LoadModuleList(diskDriverModules);
    return 0;
  });
  EXPECT_EQ(outcome.output, "");
  ASSERT_EQ(root.Calls().size(), 2u);
  EXPECT_EQ(root.Calls()[0].substr(root.Calls()[0].size() - 4), "= -1");
  EXPECT_EQ(root.Calls()[1].substr(root.Calls()[1].size() - 3), "= 0");
}

}  // namespace
