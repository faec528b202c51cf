#include "flows/installer_child.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <random>
#include <string>

#include "packages/tree_lock.h"
#include "tests/support/install_helpers.h"
#include "tests/support/stream_bytes.h"

namespace {

class InstallerChildTest : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    MakeTestDirectories(tree.Target("/var/pdb"));
    savedPipeAction = signal(SIGPIPE, SIG_IGN);  // as the installer runs
  }
  void TearDown() override {
    signal(SIGPIPE, savedPipeAction);
    InstallTest::TearDown();
  }

  // Feeds the bytes to a new image-mode child and waits for it; whether it says it installed them.
  bool Feed(const std::string& bytes) {
    PipedChild child = StartInstallerChild({.keepImage = true, .quiet = false});
    EXPECT_TRUE(child.IsOpen());
    if (!child.IsOpen()) {
      return false;
    }
    // A child that stops reading (a full disk) leaves the rest without a reader.
    bool written = fwrite(bytes.data(), 1, bytes.size(), child.Stream()) == bytes.size();
    bool installed = EndInstallerChild(child);
    EXPECT_FALSE(child.IsOpen());
    EXPECT_TRUE(written || !installed);
    return installed;
  }

  sighandler_t savedPipeAction = SIG_DFL;
};

TEST_F(InstallerChildTest, WhatTheManagerDoesNotStoreLeavesNoImage) {
  TestPackage plain("ppp", "1.0");  // installed, but without an image to keep
  plain.File("/etc/ppp", "lock\n");
  TestPackage unsigned_("dhcp", "1.0");  // refused: neither signed nor known
  unsigned_.Image("x").File("/etc/dhcp", "x");
  const std::string signedDhcp = unsigned_.Bytes(TestPackage::kSigned);
  const struct {
    const char* what;
    std::string bytes;
    const char* installedFile;  // null: nothing installed
    bool treeInUse = false;     // another writer holds the tree's lock
  } cases[] = {
      {"no image part", plain.Bytes(TestPackage::kSigned), "/etc/ppp"},
      {"refused package", unsigned_.Bytes(), nullptr},
      {"no container", std::string(5000, 'x'), nullptr},
      {"pipe closed half way", signedDhcp.substr(0, signedDhcp.size() / 2), nullptr},
      {"tree in use", signedDhcp, nullptr, true},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.what);
    TreeLock other;
    ASSERT_TRUE(!run.treeInUse || other.Take("test: ", 0));
    testing::internal::CaptureStderr();
    // The child's status is all the flow learns of the outcome.
    EXPECT_EQ(Feed(run.bytes), run.installedFile != nullptr);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, run.treeInUse ? "ERROR: " + tree.Target() + " is in use by process " +
                                        std::to_string(getpid()) + "\n"
                                  : "");
    EXPECT_FALSE(PathExists(tree.Target("/image")));
    EXPECT_FALSE(PathExists(tree.Target("/var/pdb/ppp/image")));
    EXPECT_FALSE(PathExists(tree.Target("/var/pdb/dhcp")));
    EXPECT_FALSE(PathExists(tree.Target("/etc/dhcp")));
    if (run.installedFile != nullptr) {
      EXPECT_TRUE(PathExists(tree.Target(run.installedFile)));
    }
  }
}

// The image copy fills the disk and stops the reader: the child says the disk is too small, as vpk
// does, not that the package is broken. A 64 KiB file system in a mount namespace of the test.
TEST_F(InstallerChildTest, FullDiskSaysTheDiskIsTooSmall) {
  if (!MountTmpfs(tree.Target(), "size=64k")) {
    GTEST_SKIP() << "a small file system needs root and a private mount namespace";
  }
  MakeTestDirectories(tree.Target("/var/pdb"));
  std::mt19937 random(3);
  TestPackage system("system", "1.0");
  system.Image(RandomBytes(random, 256 * 1024)).File("/etc/version", "1.0\n");
  EXPECT_FALSE(Feed(system.Bytes(TestPackage::kSigned)));
  std::string said = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  EXPECT_NE(said.find("ERROR: installation of system-1.0 failed: disk is too small\n"),
            std::string::npos)
      << said;
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/system")));
}

TEST_F(InstallerChildTest, ChildDyingInTheMiddleMakesTheNextWriteFailWithoutHarm) {
  TestPackage big("system", "2.0");
  big.Image(std::string(1 << 20, 'k'));
  std::string bytes = big.Bytes(TestPackage::kSigned);
  PipedChild child = StartInstallerChild({.keepImage = true, .quiet = false});
  ASSERT_TRUE(child.IsOpen());
  ASSERT_EQ(fwrite(bytes.data(), 1, 4096, child.Stream()), 4096u);
  kill(child.Pid(), SIGKILL);
  // The pipe takes what fits until the child is gone; then a write fails instead of killing us.
  bool failed = false;
  for (size_t at = 4096; !failed && at + 4096 <= bytes.size(); at += 4096) {
    failed = fwrite(bytes.data() + at, 1, 4096, child.Stream()) != 4096;
  }
  EXPECT_TRUE(failed);
  pid_t pid = child.Pid();
  child.Close();
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped: nothing is left behind
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/system")));
}

}  // namespace
