#include "packages/version.h"

#include <gtest/gtest.h>

namespace {

const PackageVersion kUnchanged = 0x12345678;

// Every text VersionText writes reads back as the same version, and the packed words order as the
// releases do.
TEST(VersionTest, TextOfEveryReleaseTypeReadsBack) {
  struct Case {
    PackageVersion version;
    const char* text;
  } cases[] = {
      {MakeVersion(2, 9, 'a', 0), "2.9alpha"},      {MakeVersion(2, 9, 'a', 2), "2.9alpha2"},
      {MakeVersion(2, 9, 'b', 0), "2.9beta"},       {MakeVersion(2, 9, 'b', 3), "2.9beta3"},
      {MakeVersion(2, 9, 'c', 0), "2.9rc"},         {MakeVersion(2, 9, 'c', 1), "2.9rc1"},
      {MakeVersion(2, 9, 'f', 0), "2.9"},           {MakeVersion(2, 9, 'f', 5), "2.9.5"},
      {MakeVersion(255, 0, 'f', 255), "255.0.255"},
  };
  PackageVersion previous = 0;
  for (const Case& c : cases) {
    EXPECT_STREQ(VersionText(c.version), c.text);
    PackageVersion parsed = kUnchanged;
    EXPECT_TRUE(ParseVersion(c.text, parsed)) << c.text;
    EXPECT_EQ(parsed, c.version) << c.text;
    EXPECT_GT(parsed, previous) << c.text;
    previous = parsed;
  }
  EXPECT_STREQ(VersionText(0), "0.0");  // type byte 0 has no suffix
}

TEST(VersionTest, RefusesAnythingElse) {
  for (const char* text :
       {"256.0", "1.256",   "1.0.256",  "1.0beta256", "-1.0",    "+1.0",      "1.-1",
        " 1.0",  "1.0 ",    "1. 0",     "",           "1",       "1.",        ".1",
        "1.0.",  "1.0.0.0", "1.0gamma", "1.0final",   "1.0rc.1", "1.0beta1x", "x"}) {
    PackageVersion parsed = kUnchanged;
    EXPECT_FALSE(ParseVersion(text, parsed)) << '"' << text << '"';
    EXPECT_EQ(parsed, kUnchanged) << text;
  }
}

// The strict forms move the inclusive bound one step of the packed order.
TEST(VersionTest, DependencyTextGivesInclusiveBounds) {
  const PackageVersion v29 = MakeVersion(2, 9, 'f', 0), v30 = MakeVersion(3, 0, 'f', 0);
  struct Case {
    const char *text, *name;
    PackageVersion min, max;
  } cases[] = {
      {"system>=2.9", "system", v29, 0},
      {"system>2.9", "system", v29 + 1, 0},
      {"dhcp<=3.0", "dhcp", 0, v30},
      {"dhcp<3.0", "dhcp", 0, v30 - 1},
      {"dhcp", "dhcp", 0, 0},
      {"abcdefghijklmnop", "abcdefghijklmnop", 0, 0},
      {"ppp=2.9.5", "ppp", MakeVersion(2, 9, 'f', 5), MakeVersion(2, 9, 'f', 5)},
  };
  for (const Case& c : cases) {
    Dependency d{"old", 1, 2, 7};
    ASSERT_TRUE(ParseDependency(c.text, d)) << c.text;
    EXPECT_EQ(d.name, c.name);
    EXPECT_EQ(d.minVersion, c.min) << c.text;
    EXPECT_EQ(d.maxVersion, c.max) << c.text;
    EXPECT_EQ(d.priority, 0) << c.text;
  }
  for (const char* text : {"", ">=2.9", "ppp==2.9", "ppp=>2.9", "ppp<>2.9", "ppp=", "ppp>=2.9x",
                           "ppp 2.9", "a/b", "..", ".=1.0", "abcdefghijklmnopq"}) {
    Dependency d{"old", 1, 2, 7};
    EXPECT_FALSE(ParseDependency(text, d)) << '"' << text << '"';
    EXPECT_EQ(d.name + std::to_string(d.minVersion), "old1") << text;
  }
}

}  // namespace
