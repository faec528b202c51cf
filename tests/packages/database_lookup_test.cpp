#include "packages/database_lookup.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/package_tree.h"

namespace {

Package& Add(const std::string& name, bool disabled, std::vector<Dependency> provides = {}) {
  auto p = std::make_unique<Package>(name);
  p->version = MakeVersion(1, 0, 'f', 0);
  p->disabled = disabled;
  p->provides = std::move(provides);
  return AddPackage(std::move(p));
}

}  // namespace

TEST(DatabaseLookupTest, FindsTheFirstExactName) {
  PackageTree tree;
  Add("ppp", false);
  Add("ppp", true);
  Add("pppoe", false);
  EXPECT_EQ(FindPackageIndex("pppoe"), 2);
  for (const char* other : {"PPP", "pp", "none"})
    EXPECT_EQ(FindPackageIndex(other), -1) << other;
  EXPECT_EQ(FindPackage("ppp"), GetPackageDatabase().packages[0].get());
  EXPECT_EQ(FindPackage("none"), nullptr);
}

// An enabled provider wins whatever its place; with only disabled ones the last is taken. A
// package bearing the name counts like one providing it.
TEST(DatabaseLookupTest, ProviderPrefersEnabledThenLastDisabled) {
  struct Case {
    std::vector<std::pair<const char*, bool>> packages;  // name, disabled
    const char* expected;
  } cases[] = {
      {{{"udhcp", true}, {"isc", false}}, "isc"},
      {{{"isc", false}, {"udhcp", true}}, "isc"},
      {{{"udhcp", false}, {"isc", false}}, "udhcp"},
      {{{"udhcp", true}, {"dhcp", true}}, "dhcp"},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    for (auto [name, disabled] : c.packages) {
      std::vector<Dependency> provides;
      if (std::string(name) != "dhcp")
        provides.push_back({"dhcp", MakeVersion(3, 0, 'f', 0), 0, 0});
      Add(name, disabled, provides);
    }
    Package* found = FindProvider("dhcp");
    ASSERT_NE(found, nullptr) << c.expected;
    EXPECT_EQ(found->name, c.expected);
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
