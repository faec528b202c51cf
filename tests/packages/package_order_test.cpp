#include "packages/package_order.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/package_scenario.h"

namespace {

TEST(PackageOrderTest, FindsCandidatesByNameRangeAndProvidesInDatabaseOrder) {
  PackageTree tree;
  AddScenarioPackages(
      "dhcp 2.0\nrelay 1.0 disabled prov:dhcp\ndhcp 3.0 disabled\nold 1.0 prov:dhcp<2.0\n"
      "client 1.0 dep:dhcp");
  struct Case {
    const char* dependency;
    DisabledPackages disabled;
    const char* expected;
  } cases[] = {
      {"dhcp", DisabledPackages::kInclude, "dhcp-2.0 relay-1.0 dhcp-3.0 old-1.0"},
      {"dhcp", DisabledPackages::kSkip, "dhcp-2.0 old-1.0"},
      {"dhcp>=3.0", DisabledPackages::kInclude, "relay-1.0 dhcp-3.0"},
      {"dhcp=2.5", DisabledPackages::kInclude, "relay-1.0"},
  };
  for (const Case& c : cases) {
    Dependency d;
    ASSERT_TRUE(ParseDependency(c.dependency, d));
    std::vector<Package*> out;
    FindCandidates(d, out, c.disabled);
    EXPECT_EQ(DisplayNames(out), c.expected) << c.dependency << " " << int(c.disabled);
  }
}

// Superseded packages are dropped (announced as asked), the rest put after what they need and what
// supersedes them.
TEST(PackageOrderTest, DropsSupersededPackagesAndOrdersTheRest) {
  struct Case {
    const char* packages;
    bool downgrade, announce;
    const char* expected;
    const char* log;
  } cases[] = {
      {"ppp 1.0\nppp 2.0", false, true, "ppp-2.0",
       "WARNING: omitting package ppp-1.0: newer package is already provided"},
      {"ppp 1.0\nppp 2.0", true, true, "ppp-1.0",
       "WARNING: omitting package ppp-2.0: older package is already provided"},
      {"ppp 1.0\nppp 2.0\nppp 1.5", false, false, "ppp-2.0", ""},
      {"ppp 1.0\nPPP 2.0", false, true, "PPP-2.0 ppp-1.0", ""},
      // A bundle is kept rather than the equal package it brings.
      {"ppp 1.0\nB 1.0 bundle has:ppp=1.0", false, true, "B-1.0", ""},
      {"B 1.0 bundle has:ppp=1.0\nppp 1.0", false, true, "B-1.0", ""},
      // Two equal packages once dropped each other; one of them stays.
      {"ppp 1.0\nppp 1.0", false, true, "ppp-1.0", ""},
      {"a 1.0 dep:b\nb 1.0 dep:c\nc 1.0", false, false, "c-1.0 b-1.0 a-1.0", ""},
      {"x 1.0\na 1.0 dep:b\ny 1.0\nb 1.0", false, false, "b-1.0 y-1.0 a-1.0 x-1.0", ""},
      {"w 1.0 conf:l\nl 1.0", false, false, "w-1.0 l-1.0", ""},
      {"a 1.0 dep:dhcp\nd 1.0 prov:dhcp", false, false, "d-1.0 a-1.0", ""},
      {"a 1.0 dep:b\nb 1.0 dep:a", false, false, "a-1.0 b-1.0", ""},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    AddScenarioPackages(c.packages);
    std::vector<Package*> list = AllPackages();
    OrderPackages(list, {.downgrade = c.downgrade, .announce = c.announce});
    EXPECT_EQ(DisplayNames(list), c.expected) << c.packages;
    EXPECT_EQ(LogText(), c.log) << c.packages;
  }
}

}  // namespace
