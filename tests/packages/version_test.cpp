#include "packages/version.h"

#include "packages/package.h"
#include "packages/relations.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(VersionTest, TextOfEachReleaseType) {
  struct Case {
    PackageVersion version;
    const char* text;
  } cases[] = {
      {0, "0.0"},
      {MakeVersion(2, 9, 'f', 5), "2.9.5"},
      {MakeVersion(2, 9, 'f', 0), "2.9"},
      {MakeVersion(2, 9, 'b', 3), "2.9beta3"},
      {MakeVersion(2, 9, 'a', 2), "2.9alpha2"},
      {MakeVersion(2, 9, 'c', 1), "2.9rc1"},
      {MakeVersion(2, 9, 'c', 0), "2.9rc"},
      {MakeVersion(2, 9, 'x', 7), "2.97"},  // unknown letter: no suffix
      {MakeVersion(255, 255, 'f', 255), "255.255.255"},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(VersionText(c.version), c.text) << c.text;
}

TEST(VersionTest, FinalSortsAfterItsPreReleases) {
  PackageVersion order[] = {MakeVersion(2, 8, 'f', 9), MakeVersion(2, 9, 'a', 1),
                            MakeVersion(2, 9, 'b', 1), MakeVersion(2, 9, 'c', 1),
                            MakeVersion(2, 9, 'f', 0), MakeVersion(2, 9, 'f', 1)};
  for (std::size_t i = 1; i < std::size(order); ++i)
    EXPECT_LT(order[i - 1], order[i]) << i;
}

TEST(VersionTest, ParseRoundTripsEveryReleaseType) {
  for (int type : {'a', 'b', 'c', 'f'}) {
    for (int revision : {0, 1, 9, 10, 255}) {
      for (int major : {0, 2, 255}) {
        PackageVersion v = MakeVersion(major, 17, type, revision);
        std::string text = VersionText(v);
        PackageVersion parsed = 0;
        ASSERT_TRUE(ParseVersion(text, parsed)) << text;
        EXPECT_EQ(parsed, v) << text;
      }
    }
  }
}

TEST(VersionTest, ParseAcceptsTheToolForms) {
  struct Case {
    const char* text;
    PackageVersion version;
  } cases[] = {
      {"2.9.5", MakeVersion(2, 9, 'f', 5)},   {"2.9beta3", MakeVersion(2, 9, 'b', 3)},
      {"2.9rc1", MakeVersion(2, 9, 'c', 1)},  {"2.9alpha2", MakeVersion(2, 9, 'a', 2)},
      {"2.9", MakeVersion(2, 9, 'f', 0)},     {"2.9.0", MakeVersion(2, 9, 'f', 0)},
      {"010.09", MakeVersion(10, 9, 'f', 0)}, {"0002.9", MakeVersion(2, 9, 'f', 0)},
  };
  for (const Case& c : cases) {
    PackageVersion parsed = 0;
    EXPECT_TRUE(ParseVersion(c.text, parsed)) << c.text;
    EXPECT_EQ(parsed, c.version) << c.text;
  }
}

TEST(VersionTest, ParseRefusesAnythingElse) {
  const char* bad[] = {"",         "2",      "2.",      ".9",       "2.9.",      "2.9.5.1",
                       "256.0",    "2.256",  "2.9.256", "2.9rc256", "1000.0",    "-2.9",
                       "+2.9",     " 2.9",   "2.9 ",    "2.9b3",    "2.9beta3x", "2.9.5rc1",
                       "2.9final", "2.9RC1", "2,9",     "2.9-1",    "a.b"};
  for (const char* text : bad) {
    PackageVersion parsed = 1234;
    EXPECT_FALSE(ParseVersion(text, parsed)) << '"' << text << '"';
    EXPECT_EQ(parsed, 1234u) << text;
  }
}

TEST(VersionTest, ParseDependencyForms) {
  const PackageVersion v295 = MakeVersion(2, 9, 'f', 5);
  const PackageVersion v30 = MakeVersion(3, 0, 'f', 0);
  struct Case {
    const char* text;
    const char* name;
    PackageVersion min, max;
  } cases[] = {
      {"system", "system", 0, 0},       {"system>=2.9", "system", MakeVersion(2, 9, 'f', 0), 0},
      {"ppp=2.9.5", "ppp", v295, v295}, {"dhcp<=3.0", "dhcp", 0, v30},
      {"dhcp<3.0", "dhcp", 0, v30 - 1}, {"dhcp>2.9.5", "dhcp", v295 + 1, 0},
      {"x-y_z.1+", "x-y_z.1+", 0, 0},
  };
  for (const Case& c : cases) {
    Dependency d;
    ASSERT_TRUE(ParseDependency(c.text, d)) << c.text;
    EXPECT_EQ(d.name, c.name) << c.text;
    EXPECT_EQ(d.minVersion, c.min) << c.text;
    EXPECT_EQ(d.maxVersion, c.max) << c.text;
    EXPECT_EQ(d.priority, 0) << c.text;
  }
}

// "<" and ">" are strict in the packed order: only the bound itself moves out of the range, so
// "dhcp<3.0" still admits the 3.0 pre-releases.
TEST(VersionTest, StrictBoundsExcludeOnlyTheBoundItself) {
  struct Case {
    const char* dependency;
    PackageVersion version;
    bool satisfied;
  } cases[] = {
      {"dhcp<3.0", MakeVersion(2, 9, 'f', 255), true},
      {"dhcp<3.0", MakeVersion(3, 0, 'c', 255), true},
      {"dhcp<3.0", MakeVersion(3, 0, 'f', 0), false},
      {"dhcp<=3.0", MakeVersion(3, 0, 'f', 0), true},
      {"dhcp<=3.0", MakeVersion(3, 0, 'f', 1), false},
      {"dhcp>3.0", MakeVersion(3, 0, 'f', 0), false},
      {"dhcp>3.0", MakeVersion(3, 0, 'f', 1), true},
      {"dhcp>2.9.255", MakeVersion(2, 9, 'f', 255), false},
      {"dhcp>2.9.255", MakeVersion(2, 10, 'a', 0), true},
      {"dhcp>=3.0", MakeVersion(3, 0, 'c', 9), false},
      {"dhcp=3.0", MakeVersion(3, 0, 'f', 0), true},
      {"dhcp=3.0", MakeVersion(3, 0, 'f', 1), false},
  };
  for (const Case& c : cases) {
    Dependency d;
    ASSERT_TRUE(ParseDependency(c.dependency, d)) << c.dependency;
    PackageInfo p("dhcp");
    p.version = c.version;
    EXPECT_EQ(Satisfies(p, d), c.satisfied) << c.dependency << " by " << VersionText(c.version);
  }
}

TEST(VersionTest, ParseDependencyRefusesBadNamesAndOperators) {
  const char* bad[] = {"",          ">=2.9",     "a/b",       ".",
                       "..",        "../x>=2.9", "sys tem",   "abcdefghijklmnopq",
                       "dhcp==3.0", "dhcp=>3.0", "dhcp<>3.0", "dhcp<",
                       "dhcp>=",    "dhcp>=3",   "dhcp=3.0=", "dhcp<3.0 ",
                       "dhcp\t",    "na\xffme"};
  for (const char* text : bad) {
    Dependency d{"kept", 1, 2, 3};
    EXPECT_FALSE(ParseDependency(text, d)) << '"' << text << '"';
    EXPECT_EQ(d.name, "kept") << text;
  }
  Dependency sixteen;
  EXPECT_TRUE(ParseDependency("abcdefghijklmnop", sixteen));
}

}  // namespace
