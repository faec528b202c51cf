#include "packages/database_lookup.h"

#include <gtest/gtest.h>

#include "tests/support/package_tree.h"

namespace {

// Adds a package of version 1.0 that provides dhcp unless it is named so.
Package& Add(const std::string& name, bool disabled) {
  auto p = std::make_unique<Package>(name);
  p->version = MakeVersion(1, 0, 'f', 0);
  p->disabled = disabled;
  if (name != "dhcp")
    p->provides = {{"dhcp", MakeVersion(3, 0, 'f', 0)}};
  return AddPackage(std::move(p));
}

}  // namespace

TEST(DatabaseLookupTest, FindsTheFirstExactName) {
  PackageTree tree;
  Package& first = Add("ppp", false);
  Add("ppp", true);
  Add("pppoe", false);
  EXPECT_EQ(FindPackageIndex("pppoe"), 2);
  EXPECT_EQ(FindPackage("ppp"), &first);
  for (const char* other : {"PPP", "pp", "none"})
    EXPECT_EQ(FindPackage(other), nullptr) << other;
}

// An enabled provider wins whatever its place; with only disabled ones the last is taken. A
// package bearing the name counts like one providing it.
TEST(DatabaseLookupTest, ProviderPrefersEnabledThenLastDisabled) {
  using Packages = std::vector<std::pair<const char*, bool>>;  // name, disabled
  const std::pair<const char*, Packages> cases[] = {{"isc", {{"udhcp", true}, {"isc", false}}},
                                                    {"isc", {{"isc", false}, {"udhcp", true}}},
                                                    {"udhcp", {{"udhcp", false}, {"isc", false}}},
                                                    {"dhcp", {{"isc", true}, {"dhcp", true}}}};
  for (const auto& [expected, packages] : cases) {
    PackageTree tree;
    for (auto [name, disabled] : packages)
      Add(name, disabled);
    Package* found = FindProvider("dhcp");
    ASSERT_NE(found, nullptr) << expected;
    EXPECT_EQ(found->name, expected);
    EXPECT_EQ(FindProvider("dhcpd"), nullptr);
  }
}

TEST(DatabaseLookupTest, PrintsTheTableRightAligned) {
  PackageTree tree;
  Package& system = Add("system", false);
  system.version = MakeVersion(2, 9, 'f', 5);
  system.buildTime = 1700000000;
  Add("ppp", true).version = MakeVersion(2, 4, 'b', 3);
  EXPECT_EQ(CapturedStdout(PrintPackageTable),
            "            Name           Version                     Built\n"
            "------------------------------------------------------------\n"
            "          system             2.9.5      Nov/14/2023 22:13:20\n"
            "             ppp X        2.4beta3      Jan/01/1970 00:00:00\n");
}
