#include "tools/install-server/profile_file.h"

#include <gtest/gtest.h>

#include "net/hardware_address.h"

namespace {

TEST(ProfileFileTest, ReadsProfilesAndRoutersWithComments) {
  ProfileFile file;
  ASSERT_TRUE(
      ParseProfileFile("# fleet\n"
                       "profile default erase base.vpk site.scr  # most routers\n"
                       "\n"
                       "router 02:00:00:0a:0B:01 lab\n"
                       "profile lab keep .scr abcdefghijklmnopqrstuvwxyz01234\n",
                       "fleet", file));
  ASSERT_EQ(file.profiles.size(), 2u);
  EXPECT_FALSE(file.profiles[0].keep);
  EXPECT_EQ(file.profiles[0].files, (std::vector<std::string>{"base.vpk", "site.scr"}));
  EXPECT_TRUE(file.profiles[1].keep);
  uint8_t lab[6] = {0x02, 0, 0, 0x0a, 0x0b, 0x01};
  ASSERT_EQ(file.routers.size(), 1u);
  EXPECT_EQ(file.routers.at(PackHardwareAddress(lab)), 1u);
}

// Each line is refused with its line number and the reason, before anything is served.
TEST(ProfileFileTest, RefusesMalformedLines) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"profile a maybe x\n", "f:1: expected 'profile NAME keep|erase FILE...'"},
      {"profile a\n", "f:1: expected 'profile NAME keep|erase FILE...'"},
      {"profile a keep ../etc\n", "f:1: cannot serve a file named '../etc'"},
      {"profile a keep .\n", "cannot serve a file named '.'"},
      {"profile a keep ..\n", "cannot serve a file named '..'"},
      {"profile .. keep x\n", "cannot use '..' as a profile name"},
      {"profile a keep abcdefghijklmnopqrstuvwxyz012345\n", "cannot serve a file named 'abc"},
      {"profile a keep x\nprofile a erase y\n", "f:2: profile 'a' is defined twice"},
      {"router 02:00:00:00:00:01\n", "f:1: expected 'router HH:HH:HH:HH:HH:HH PROFILE'"},
      {"router 02:00:00:00:00:0g a\n", "cannot use '02:00:00:00:00:0g' as a hardware address"},
      {"router 02:00:00:00:00:011 a\n", "as a hardware address"},
      {"router 00:00:00:00:00:00 a\n", "as a hardware address"},
      {"router 02:00:00:00:00-01 a\n", "as a hardware address"},
      {"profile a keep\nrouter 02:00:00:00:00:01 a\nrouter 02:00:00:00:00:01 a\n",
       "f:3: router 02:00:00:00:00:01 is listed twice"},
      {"router 02:00:00:00:00:01 lab\n", "router 02:00:00:00:00:01 has the unknown profile 'lab'"},
      {"serve everything\n", "f:1: unknown line 'serve'"},
  };
  for (const Case& c : cases) {
    ProfileFile file;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ParseProfileFile(c.text, "f", file)) << c.text;
    EXPECT_NE(testing::internal::GetCapturedStderr().find(c.message), std::string::npos) << c.text;
  }
}

}  // namespace
