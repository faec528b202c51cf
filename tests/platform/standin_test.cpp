// The stand-in is linked into every test build; a test that reaches it outside a sandbox root
// must leave the host as it was.

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/support/sandbox_layout.h"

namespace {

TEST(PlatformStandIn, OutsideASandboxRootChangesNothingOnTheHost) {
  ASSERT_NE(access(kSandboxDirectory, F_OK), 0) << "the host must not look like a sandbox";
  char directory[] = "/tmp/vela-standin-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  std::string node = std::string(directory) + "/lcd";

  EXPECT_EQ(MountFileSystem("/dev/sda1", directory, "ext3", 0, nullptr), 0);
  EXPECT_EQ(UnmountFileSystem(directory), -1);
  EXPECT_EQ(MakeNode(node.c_str(), S_IFCHR | 0666, makedev(10, 130)), 0);
  EXPECT_NE(access(node.c_str(), F_OK), 0);  // no node and no file
  EXPECT_EQ(rmdir(directory), 0);            // and nothing mounted on it
}

TEST(PlatformStandIn, InterfaceRequestsOutsideTheFixtureFail) {
  ifreq request{};
  snprintf(request.ifr_name, sizeof request.ifr_name, "%s", "eth0");
  EXPECT_EQ(InterfaceRequest(-1, SIOCGIFHWADDR, &request), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(InterfaceRequest(-1, SIOCGIFADDR, &request), -1);
}

}  // namespace
