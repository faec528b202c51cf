#include "packages/schedule_apply.h"

#include <gtest/gtest.h>

#include <regex>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "tests/support/package_scenario.h"

namespace {

TEST(ScheduleApplyTest, CarriesOutThePlanWithMessagesByVerbosity) {
  struct Case {
    Verbosity verbosity;
    const char* log;
    const char* status;
  } cases[] = {
      {Verbosity::kChanges, "disabled off-1.0\nenabled on-1.0\nenabled auto-1.0",
       "disabling off-1.0... enabling on-1.0... enabling auto-1.0... "},
      {Verbosity::kEverything,
       "uninstalled gone-1.0\ndisabled off-1.0\nenabled on-1.0\nenabled auto-1.0",
       "uninstalling gone-1.0... disabling off-1.0... enabling on-1.0... enabling auto-1.0... "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.verbosity));
    PackageTree tree;
    InstallScenarioPackages(
        tree,
        "gone 1.0 do:uninstall\noff 1.0 forced do:disable\non 1.0 disabled forced do:enable\n"
        "auto 1.0 disabled do:enable\nkeep 1.0");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ApplySchedule(c.verbosity));
    std::string out = testing::internal::GetCapturedStdout();
    std::regex status("[a-z]+ing [^ .]+-[0-9.]+\\.\\.\\.");
    std::string lines;
    for (auto i = std::sregex_iterator(out.begin(), out.end(), status); i != std::sregex_iterator();
         ++i) {
      lines += i->str() + " ";
    }
    EXPECT_EQ(lines, c.status);
    EXPECT_EQ(LogText(), c.log);
    EXPECT_EQ(Names(AllPackages()), "off on auto keep");
    EXPECT_EQ(ScheduledActions(), "");
    EXPECT_FALSE(PathExists(tree.Target("/bin/gone")) || PathExists(tree.Target("/var/pdb/gone")));
    EXPECT_TRUE(FindPackage("off")->disabled && !FindPackage("auto")->disabled);
    // A state chosen by the user is stored; the automatic one leaves no state file.
    EXPECT_EQ(ListTree(tree.Target("/var/pdb/auto")), ListTree(tree.Target("/var/pdb/keep")));
    EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/off/disabled")) +
                  ReadTreeFile(tree.Target("/var/pdb/on/enabled")),
              "user\nuser\n");
    EXPECT_FALSE(PathExists(tree.Target("/var/pdb/on/disabled")));
  }
}

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
