#include "tools/vpk/build_command.h"

#include <gtest/gtest.h>

namespace {

TEST(BuildCommandTest, ProvidesTakeAnOptionalSignedPriorityAfterTheLastColon) {
  struct Case {
    const char* text;
    bool ok;
    const char* name;
    PackageVersion minVersion;
    std::int32_t priority;
  } cases[] = {
      {"mailer", true, "mailer", 0, 0},
      {"mailer:10", true, "mailer", 0, 10},
      {"smtpd>=2.0:-1", true, "smtpd", MakeVersion(2, 0, 'f', 0), -1},
      {"a:b", true, "a:b", 0, 0},
      {"a:b:+7", true, "a:b", 0, 7},
      {"low:-2147483648", true, "low", 0, INT32_MIN},
      {"high:2147483648", false, "", 0, 0},
      {"bad>=2.x:1", false, "", 0, 0},
      {":5", false, "", 0, 0},
  };
  for (const Case& c : cases) {
    Dependency entry;
    ASSERT_EQ(ParseProvides(c.text, &entry), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(entry.name, c.name) << c.text;
      EXPECT_EQ(entry.minVersion, c.minVersion) << c.text;
      EXPECT_EQ(entry.priority, c.priority) << c.text;
    }
  }
}

TEST(BuildCommandTest, HeaderOptionsRefuseWhatCannotBeStored) {
  struct Case {
    const char* option;
    const char* value;
    bool ok;
  } cases[] = {
      {"name", "sixteen-bytes-ok", true},
      {"name", "seventeen-bytes-x", false},
      {"name", "a/b", false},
      {"name", "", false},
      {"version", "2.9beta3", true},
      {"version", "2.9.5.1", false},
      {"version", "256.0", false},
      {"version", "2.9-rc1", false},
      {"build-time", "4294967295", true},
      {"build-time", "4294967296", false},
      {"build-time", "-1", false},
      {"flags", "0x3", true},
      {"flags", "0x100000000", false},
      {"flags", "three", false},
      {"depends", "system>=2.9", true},
      {"depends", "ppp=2.9.5", true},
      {"depends", "dhcp<3.0", true},
      {"depends", "bare", true},
      {"depends", "x>>1", false},
      {"conflicts", "<2.0", false},
      {"arch", "", true},
      {"shoe-size", "44", false},
  };
  for (const Case& c : cases) {
    PackageInfo info;
    bool flagsWord = false;
    EXPECT_EQ(ApplyHeaderOption(c.option, c.value, &info, &flagsWord), c.ok)
        << c.option << " " << c.value;
  }
}

}  // namespace
