#include "flows/installer_child.h"

#include <sys/wait.h>

#include <csignal>
#include <string>

#include "disk/tools.h"
#include "tests/support/install_helpers.h"

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
    FILE* child = StartInstallerChild(true, false);
    EXPECT_NE(child, nullptr);
    if (child == nullptr) {
      return false;
    }
    // Only one piped child at a time: a second start is refused while this one runs.
    EXPECT_EQ(StartInstallerChild(true, false), nullptr);
    EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), child), bytes.size());
    bool installed = EndInstallerChild(child);
    EXPECT_EQ(childPid, -1);
    return installed;
  }

  sighandler_t savedPipeAction = SIG_DFL;
};

TEST_F(InstallerChildTest, PackageWrittenThroughThePipeLandsWithItsImageLinks) {
  TestPackage system("system", "2.0");
  system.Flags(kFlagBootImage).Image("kernel bytes").File("/etc/version", "2.0\n");
  std::string bytes = system.Bytes(TestPackage::kSigned);
  EXPECT_TRUE(Feed(bytes));
  EXPECT_EQ(ReadTreeFile(tree.Target("/etc/version")), "2.0\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/system/image")), bytes);
  EXPECT_EQ(ReadTreeFile(tree.Target("/bootimage")), bytes);
  EXPECT_FALSE(PathExists(tree.Target("/image")));
}

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
  } cases[] = {
      {"no image part", plain.Bytes(TestPackage::kSigned), "/etc/ppp"},
      {"refused package", unsigned_.Bytes(), nullptr},
      {"no container", std::string(5000, 'x'), nullptr},
      {"pipe closed half way", signedDhcp.substr(0, signedDhcp.size() / 2), nullptr},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.what);
    // The child's status is all the flow learns of the outcome.
    EXPECT_EQ(Feed(run.bytes), run.installedFile != nullptr);
    EXPECT_FALSE(PathExists(tree.Target("/image")));
    EXPECT_FALSE(PathExists(tree.Target("/var/pdb/ppp/image")));
    EXPECT_FALSE(PathExists(tree.Target("/var/pdb/dhcp")));
    EXPECT_FALSE(PathExists(tree.Target("/etc/dhcp")));
    if (run.installedFile != nullptr) {
      EXPECT_TRUE(PathExists(tree.Target(run.installedFile)));
    }
  }
}

TEST_F(InstallerChildTest, ChildDyingInTheMiddleMakesTheNextWriteFailWithoutHarm) {
  TestPackage big("system", "2.0");
  big.Image(std::string(1 << 20, 'k'));
  std::string bytes = big.Bytes(TestPackage::kSigned);
  FILE* child = StartInstallerChild(true, false);
  ASSERT_NE(child, nullptr);
  ASSERT_EQ(fwrite(bytes.data(), 1, 4096, child), 4096u);
  kill(childPid, SIGKILL);
  // The pipe takes what fits until the child is gone; then a write fails instead of killing us.
  bool failed = false;
  for (size_t at = 4096; !failed && at + 4096 <= bytes.size(); at += 4096) {
    failed = fwrite(bytes.data() + at, 1, 4096, child) != 4096;
  }
  EXPECT_TRUE(failed);
  pid_t pid = childPid;
  ClosePipedChild(child);
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped: nothing is left behind
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/system")));
}

}  // namespace
