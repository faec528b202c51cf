#include "packages/database_lookup.h"

#include <gtest/gtest.h>

#include <memory>

#include "packages/package_database.h"
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
  EXPECT_EQ(FindPackageIndex("ppp"), 0);
  EXPECT_EQ(FindPackageIndex("pppoe"), 2);
  EXPECT_EQ(FindPackageIndex("PPP"), -1);
  EXPECT_EQ(FindPackageIndex("pp"), -1);
  EXPECT_EQ(FindPackage("ppp"), GetPackageDatabase().packages[0].get());
  EXPECT_EQ(FindPackage("none"), nullptr);
}

// An enabled provider wins whatever its place; with only disabled ones the last is taken.
TEST(DatabaseLookupTest, ProviderPrefersEnabledThenLastDisabled) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, bool>> packages;  // name, disabled; all provide "dhcp"
    const char* expected;
  } cases[] = {
      {"disabled first", {{"udhcp", true}, {"isc", false}}, "isc"},
      {"enabled first", {{"isc", false}, {"udhcp", true}}, "isc"},
      {"all disabled", {{"udhcp", true}, {"isc", true}}, "isc"},
      {"two enabled", {{"udhcp", false}, {"isc", false}}, "udhcp"},
      {"by own name", {{"dhcp", true}, {"isc", false}}, "isc"},
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
    ASSERT_NE(found, nullptr) << c.name;
    EXPECT_EQ(found->name, c.expected) << c.name;
    EXPECT_EQ(FindProvider("dhcpd"), nullptr) << c.name;
  }
}

TEST(DatabaseLookupTest, PrintsTheTableRightAligned) {
  PackageTree tree;
  Package& system = Add("system", false);
  system.version = MakeVersion(2, 9, 'f', 5);
  system.buildTime = 1700000000;
  Package& ppp = Add("ppp", true);
  ppp.version = MakeVersion(2, 4, 'b', 3);
  testing::internal::CaptureStdout();
  PrintPackageTable();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "            Name           Version                     Built\n"
            "------------------------------------------------------------\n"
            "          system             2.9.5      Nov/14/2023 22:13:20\n"
            "             ppp X        2.4beta3      Jan/01/1970 00:00:00\n");
}
