#include "packages/database_lookup.h"

#include <gtest/gtest.h>

#include "tests/support/package_scenario.h"

// Names match exactly and the first record of a name counts. A provider is the first enabled
// package bearing or providing the name, whatever its place; with only disabled ones, the last.
TEST(DatabaseLookupTest, FindsTheFirstExactNameAndTheEnabledProvider) {
  PackageTree tree;
  AddScenarioPackages("ppp 1.0\nppp 2.0 disabled\nisc 1.0 disabled prov:dhcp=3.0");
  EXPECT_EQ(FindPackageIndex("isc"), 2);
  EXPECT_EQ(FindPackage("ppp"), AllPackages()[0]);
  for (const char* other : {"PPP", "pp", "none"}) {
    EXPECT_EQ(FindPackage(other), nullptr) << other;
  }
  AddScenarioPackages("dhcp 1.0 disabled");
  EXPECT_EQ(FindProvider("dhcp")->name, "dhcp");
  AddScenarioPackages("udhcp 1.0 prov:dhcp=3.0\nother 1.0 prov:dhcp=3.0");
  EXPECT_EQ(FindProvider("dhcp")->name, "udhcp");
  EXPECT_EQ(FindProvider("dhcpd"), nullptr);
}
