#include "packages/database_lookup.h"

#include <gtest/gtest.h>

#include "tests/support/package_tree.h"

static Package& Add(const std::string& name, bool disabled, const char* provides = nullptr) {
  auto p = std::make_unique<Package>(name);
  p->disabled = disabled;
  if (provides != nullptr) {
    p->provides = {{provides, MakeVersion(3, 0, 'f', 0)}};
  }
  return AddPackage(std::move(p));
}

// Names match exactly and the first record of a name counts. A provider is the first enabled
// package bearing or providing the name, whatever its place; with only disabled ones, the last.
TEST(DatabaseLookupTest, FindsTheFirstExactNameAndTheEnabledProvider) {
  PackageTree tree;
  Package& first = Add("ppp", false);
  Add("ppp", true);
  Add("isc", true, "dhcp");
  EXPECT_EQ(FindPackageIndex("isc"), 2);
  EXPECT_EQ(FindPackage("ppp"), &first);
  for (const char* other : {"PPP", "pp", "none"}) {
    EXPECT_EQ(FindPackage(other), nullptr) << other;
  }
  Add("dhcp", true);
  EXPECT_EQ(FindProvider("dhcp")->name, "dhcp");
  Add("udhcp", false, "dhcp");
  Add("other", false, "dhcp");
  EXPECT_EQ(FindProvider("dhcp")->name, "udhcp");
  EXPECT_EQ(FindProvider("dhcpd"), nullptr);
}
