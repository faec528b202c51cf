#include "tools/vpk/build_command.h"

#include <gtest/gtest.h>

#include "tools/vpk/build_command_internal.h"

namespace {

// A provides entry takes an optional signed priority after its last colon.
TEST(BuildCommandTest, HeaderOptionsRefuseWhatCannotBeStored) {
  struct Case {
    const char *option, *value;
    bool ok;
  } cases[] = {{"name", "sixteen-bytes-ok", true},
               {"name", "seventeen-bytes-x", false},
               {"name", "a/b", false},
               {"version", "2.9beta3", true},
               {"version", "256.0", false},
               {"build-time", "4294967295", true},
               {"build-time", "4294967296", false},
               {"flags", "0x100000000", false},
               {"depends", "dhcp<3.0", true},
               {"conflicts", "<2.0", false},
               {"provides", "a:b:+7", true},
               {"provides", "low:-2147483648", true},
               {"provides", "high:2147483648", false},
               {"provides", ":5", false},
               {"shoe-size", "44", false}};
  for (const Case& c : cases) {
    PackageInfo info;
    bool flagsWord = false;
    EXPECT_EQ(ApplyHeaderOption(c.option, c.value, &info, &flagsWord), c.ok)
        << c.option << " " << c.value;
  }
  Dependency entry;
  ASSERT_TRUE(ParseProvides("smtpd>=2.0:-1", &entry));
  EXPECT_EQ(entry.name, "smtpd");
  EXPECT_EQ(entry.priority, -1);
  ASSERT_TRUE(ParseProvides("a:b:+7", &entry));
  EXPECT_EQ(entry.name, "a:b");
  EXPECT_EQ(entry.priority, 7);
}

}  // namespace
