#include "packages/schedule_apply.h"

#include <gtest/gtest.h>

#include <regex>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "tests/support/package_scenario.h"

namespace {

// A list holding a package twice, or one that is no record of the database, once reached a record
// that the first removal had destroyed.
TEST(ScheduleApplyTest, LeavesListEntriesAloneThatAreNoLongerInTheDatabase) {
  PackageTree tree;
  InstallScenarioPackages(tree, "a 1.0 do:uninstall\nb 1.0");
  Package stranger("stranger");
  stranger.files.insert("/bin/b");
  stranger.scheduledAction = 1;
  Package* a = FindPackage("a");
  PerformRemovals({a, a, &stranger}, Verbosity::kEverything);
  PerformEnables({&stranger}, Verbosity::kEverything);
  EXPECT_EQ(LogText(), "uninstalled a-1.0");
  EXPECT_EQ(Names(AllPackages()), "b");
  EXPECT_TRUE(PathExists(tree.Target("/bin/b")));
  EXPECT_EQ(stranger.scheduledAction, 1u);
}

TEST(ScheduleApplyTest, PurgeKeepsOnlyPackagesForSystem322AndLater) {
  PackageTree tree;
  InstallScenarioPackages(
      tree,
      "system 3.22\nbrix 1.0\ndisk-drivers 1.0\nm 1.0 in:B dep:system>=3.22\nB 1.0 bundle\n"
      "new 1.0 dep:needed dep:system>=3.22\nneeded 1.0\nold 1.0 dep:system\nplain 1.0\n"
      "pending 1.0 do:disable");
  FindPackage("old")->dependencies[0].minVersion = 0x031665FF;
  FindPackage("new")->dependencies[1].minVersion = 0x03166600;
  PurgeIncompatiblePackages();
  EXPECT_EQ(Names(AllPackages()), "system brix disk-drivers m B new needed");
  EXPECT_EQ(LogText(), "WARNING: can not uninstall needed-1.0: new depends on it");
}

}  // namespace
