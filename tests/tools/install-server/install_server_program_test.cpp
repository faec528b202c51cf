// The install-server program as an administrator runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/net_namespace.h"
#include "tests/support/test_files.h"

namespace {

const std::string program = VELA_BINARY_DIR "/bin/install-server";

int RunServer(const TemporaryDirectory& dir, const std::string& arguments) {
  int status = std::system(
      (program + " " + arguments + " >" + (dir / "out") + " 2>" + (dir / "err")).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstallServerProgramTest, HelpUsageAndStartFailures) {
  TemporaryDirectory dir;
  EXPECT_EQ(RunServer(dir, "--help"), 0);
  for (const char* line : {"profile NAME keep|erase FILE...", "hold about 255 MiB",
                           "silent for 20 minutes is forgotten"}) {
    EXPECT_NE(ReadWholeTestFile(dir / "out").find(line), std::string::npos) << line;
  }
  const std::pair<const char*, int> cases[] = {
      {"--directory /tmp", 2},
      {"--interface lo", 2},
      {"--interface", 2},
      {"--directory /tmp --interface lo --duplicate-every 0", 2},
      {"--directory /tmp --interface lo --color", 2},
      {"--directory /nonexistent --interface lo", 1},
      {"--directory /tmp --profiles /nonexistent --interface lo", 1},
      // Routers would wait for their drivers for ever.
      {"--directory /tmp --interface lo", 1},
  };
  for (const auto& [arguments, status] : cases) {
    EXPECT_EQ(RunServer(dir, arguments), status) << arguments;
    EXPECT_EQ(ReadWholeTestFile(dir / "err").rfind("install-server: ", 0), 0u) << arguments;
  }
}

// SIGHUP reads the directory again; SIGTERM ends the server with status 0.
TEST(InstallServerProgramTest, StopsCleanlyOnSigterm) {
  TemporaryDirectory dir;
  VethLink link("prog");
  ASSERT_TRUE(link.Ready());
  ASSERT_EQ(mkdir((dir / "packages").c_str(), 0755), 0);
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  pid_t child = fork();
  if (child == 0) {
    dup2(output[1], 1);
    execl("/usr/sbin/ip", "ip", "netns", "exec", link.Left().c_str(), program.c_str(),
          "--directory", dir.Path().c_str(), "--interface", "eth0", "--no-default-drivers",
          nullptr);
    _exit(127);
  }
  close(output[1]);
  auto nextOutput = [&] {
    char text[200] = {};
    return read(output[0], text, sizeof text - 1) > 0 ? std::string(text) : "<none>";
  };
  EXPECT_EQ(nextOutput().rfind("install-server: serving ", 0), 0u);
  kill(child, SIGHUP);
  EXPECT_EQ(nextOutput(), "install-server: reloaded 1 profiles; 0 conversations go on\n");
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(nextOutput(), "install-server: stopped\n");
  close(output[0]);
}

}  // namespace
