#include "packages/version.h"

#include <gtest/gtest.h>

// Every release type prints as documented and reads back; the words order as the releases do.
TEST(VersionTest, TextOfEveryReleaseTypeReadsBack) {
  const std::pair<PackageVersion, const char*> cases[] = {
      {MakeVersion(2, 9, 'a', 0), "2.9alpha"},     {MakeVersion(2, 9, 'a', 2), "2.9alpha2"},
      {MakeVersion(2, 9, 'b', 0), "2.9beta"},      {MakeVersion(2, 9, 'b', 3), "2.9beta3"},
      {MakeVersion(2, 9, 'c', 0), "2.9rc"},        {MakeVersion(2, 9, 'c', 1), "2.9rc1"},
      {MakeVersion(2, 9, 'f', 0), "2.9"},          {MakeVersion(2, 9, 'f', 5), "2.9.5"},
      {MakeVersion(255, 0, 'f', 255), "255.0.255"}};
  PackageVersion previous = 0;
  for (const auto& [version, text] : cases) {
    EXPECT_STREQ(VersionText(version), text);
    PackageVersion parsed = 0;
    EXPECT_TRUE(ParseVersion(text, parsed) && parsed == version && parsed > previous) << text;
    previous = parsed;
  }
  EXPECT_STREQ(VersionText(0), "0.0");  // type byte 0 has no suffix
  for (const char* text :
       {"256.0", "1.256", "1.0.256", "1.0beta256", "-1.0", "+1.0", " 1.0", "1.0 ", "", "1", "1.",
        ".1", "1.0.", "1.0.0.0", "1.0gamma", "1.0beta1x"}) {
    PackageVersion parsed = 7;  // stays as it is
    EXPECT_FALSE(ParseVersion(text, parsed) || parsed != 7) << '"' << text << '"';
  }
}

// The strict forms move the inclusive bound one step of the packed order.
TEST(VersionTest, DependencyTextGivesInclusiveBounds) {
  const PackageVersion v29 = MakeVersion(2, 9, 'f', 0), v30 = MakeVersion(3, 0, 'f', 0);
  const PackageVersion v295 = MakeVersion(2, 9, 'f', 5);
  const std::tuple<const char*, const char*, PackageVersion, PackageVersion> cases[] = {
      {"system>=2.9", "system", v29, 0}, {"system>2.9", "system", v29 + 1, 0},
      {"dhcp<=3.0", "dhcp", 0, v30},     {"dhcp<3.0", "dhcp", 0, v30 - 1},
      {"ppp=2.9.5", "ppp", v295, v295},  {"abcdefghijklmnop", "abcdefghijklmnop", 0, 0}};
  for (const auto& [text, name, min, max] : cases) {
    Dependency d{"old", 1, 2, 7};
    EXPECT_TRUE(ParseDependency(text, d)) << text;
    EXPECT_EQ(std::tuple(d.name, d.minVersion, d.maxVersion, d.priority),
              std::tuple(std::string(name), min, max, 0));
  }
  for (const char* text : {"", ">=2.9", "ppp==2.9", "ppp=>2.9", "ppp<>2.9", "ppp=", "ppp>=2.9x",
                           "ppp 2.9", "a/b", "..", ".=1.0", "abcdefghijklmnopq"}) {
    Dependency d{"old", 1, 2, 7};
    EXPECT_FALSE(ParseDependency(text, d) || d.name != "old" || d.minVersion != 1) << text;
  }
}
