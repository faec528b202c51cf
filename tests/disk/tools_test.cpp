#include "disk/tools.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

// Runs with the log terminal path set to `path` for the call.
int RunWithLogTerminal(const char* path, const char* root, const char* program,
                       ArgumentList arguments) {
  std::string saved = LogTerminal();
  SetLogTerminal(path);
  int status = RunProgram(root, program, arguments);
  SetLogTerminal(saved.c_str());
  return status;
}

TEST(RunProgram, GivesNullInputTheLogTerminalNoOtherDescriptorAndTheRawStatus) {
  char log[] = "/tmp/vlXXXXXX";  // fits the log terminal path
  ASSERT_EQ(close(mkstemp(log)), 0);
  int inherited = dup2(open("/dev/null", O_RDONLY), 10);
  EXPECT_EQ(RunWithLogTerminal(
                log, nullptr, "/bin/sh",
                {"-c", "echo out; echo err >&2; cat; test -e /proc/self/fd/10 || echo shut"}),
            0);
  // What cannot run at all, or not in its root, exits with 127.
  EXPECT_EQ(RunWithLogTerminal(log, nullptr, "/no/such/program", {}), 127 << 8);
  EXPECT_EQ(RunWithLogTerminal(log, "/no/such/root", "/bin/true", {}), 127 << 8);
  close(inherited);
  std::ifstream file(log);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "out\nerr\nshut\n");
  unlink(log);
}

// mke2fs once wrote its messages into the partition it formatted: with the log terminal missing,
// its own open of the device became its standard output.
TEST(RunProgram, WithoutLogTerminalWritesToNullAndWithoutNullRunsNothing) {
  EXPECT_EQ(RunWithLogTerminal("/no/such/tty", nullptr, "/bin/sh",
                               {"-c",
                                "for d in 0 1 2; do "
                                "test \"$(readlink /proc/$$/fd/$d)\" = /dev/null || exit 1; "
                                "done"}),
            0);
  if (!SandboxAvailable()) {
    GTEST_SKIP() << kNeedsRoot;
  }
  SandboxRoot root({"/sbin/mke2fs"});
  SandboxOutcome outcome = RunInSandbox(root, [] {
    if (umount("/dev/null") != 0 || unlink("/dev/null") != 0) {
      return 1;
    }
    int status = RunWithLogTerminal("/dev/tty7", nullptr, "/sbin/mke2fs", {"/dev/sda1"});
    return status == 127 << 8 ? 0 : 2;
  });
  EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
  EXPECT_TRUE(root.Calls().empty());
}

}  // namespace
