#include "packages/schedule_apply.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "packages/database_lookup.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "tests/support/package_scenario.h"
#include "tests/support/package_tree.h"

namespace {

// The scenario's packages installed in the tree: each owns "/bin/<name>" and has its database
// entry with its state files.
void Install(const PackageTree& tree, const std::string& text) {
  AddScenarioPackages(text);
  for (const auto& p : GetPackageDatabase().packages) {
    WriteTreeFile(tree.Target("/bin/" + p->name), p->name);
    p->files.insert("/bin/" + p->name);
    ASSERT_TRUE(StorePackage(*p)) << p->name;
  }
}

// The status lines ("enabling x-1.0...") that the console showed, joined by blanks.
std::string StatusLines(const std::string& output) {
  std::regex status("[a-z]+ing [^ .]+-[0-9.]+\\.\\.\\.");
  std::string lines;
  for (auto i = std::sregex_iterator(output.begin(), output.end(), status);
       i != std::sregex_iterator(); ++i)
    lines += (lines.empty() ? "" : " ") + i->str();
  return lines;
}

TEST(ScheduleApplyTest, CarriesOutThePlanWithMessagesByVerbosity) {
  struct Case {
    int verbosity;
    const char* log;
    const char* status;
  } cases[] = {
      {0, "", ""},
      {1, "disabled off-1.0\nenabled on-1.0\nenabled auto-1.0",
       "disabling off-1.0... enabling on-1.0... enabling auto-1.0..."},
      {2, "uninstalled gone-1.0\ndisabled off-1.0\nenabled on-1.0\nenabled auto-1.0",
       "uninstalling gone-1.0... disabling off-1.0... enabling on-1.0... enabling auto-1.0..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verbosity);
    PackageTree tree;
    Install(tree,
            "gone 1.0 do:uninstall\noff 1.0 forced do:disable\non 1.0 disabled forced do:enable\n"
            "auto 1.0 disabled do:enable\nkeep 1.0");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ApplySchedule(c.verbosity));
    EXPECT_EQ(StatusLines(testing::internal::GetCapturedStdout()), c.status);
    EXPECT_EQ(LogText(), c.log);
    EXPECT_EQ(DatabaseNames(), "off on auto keep");
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

TEST(ScheduleApplyTest, TellsWhetherAnythingWasDone) {
  struct Case {
    const char* packages;
    bool done;
    const char* log;
  } cases[] = {
      {"a 1.0\nb 1.0 disabled", false, ""},
      {"a 1.0 do:uninstall", false, "ERROR: can not uninstall or disable all packages"},
      {"a 1.0 dep:b\nb 1.0 do:disable", false, "WARNING: can not disable b-1.0: a depends on it"},
      // Replaced out of a's range: a goes without a warning.
      {"a 1.0 dep:b<2.0\nb 2.0", true, "uninstalled a-1.0"},
      // Dependents go before what they depend on; c, only being disabled, goes with a.
      {"x 1.0\nb 1.0 do:uninstall\na 1.0 dep:b do:uninstall\nc 1.0 dep:a do:disable", true,
       "uninstalled c-1.0\nuninstalled a-1.0\nuninstalled b-1.0"},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    Install(tree, c.packages);
    EXPECT_EQ(ApplySchedule(2), c.done) << c.packages;
    EXPECT_EQ(LogText(), c.log) << c.packages;
    EXPECT_EQ(ScheduledActions(), "") << c.packages;
  }
}

// A list holding a package twice, or one that is no record of the database, once reached a record
// that the first removal had destroyed.
TEST(ScheduleApplyTest, LeavesListEntriesAloneThatAreNoLongerInTheDatabase) {
  PackageTree tree;
  Install(tree, "a 1.0 do:uninstall\nb 1.0");
  Package stranger("stranger");
  stranger.files.insert("/bin/b");
  stranger.scheduledAction = 1;
  Package* a = FindPackage("a");
  PerformRemovals({a, a, &stranger}, 2);
  PerformEnables({&stranger}, 2);
  EXPECT_EQ(LogText(), "uninstalled a-1.0");
  EXPECT_EQ(DatabaseNames(), "b");
  EXPECT_TRUE(PathExists(tree.Target("/bin/b")));
  EXPECT_EQ(stranger.scheduledAction, 1u);
}

TEST(ScheduleApplyTest, PurgeKeepsOnlyPackagesForSystem322AndLater) {
  PackageTree tree;
  Install(tree,
          "system 3.22\nbrix 1.0\ndisk-drivers 1.0\nm 1.0 in:B dep:system>=3.22\nB 1.0 bundle\n"
          "new 1.0 dep:needed dep:system>=3.22\nneeded 1.0\nold 1.0 dep:system\nplain 1.0\n"
          "pending 1.0 do:disable");
  FindPackage("old")->dependencies[0].minVersion = 0x031665FF;
  FindPackage("new")->dependencies[1].minVersion = 0x03166600;
  PurgeIncompatiblePackages();
  EXPECT_EQ(DatabaseNames(), "system brix disk-drivers m B new needed");
  EXPECT_EQ(LogText(), "WARNING: can not uninstall needed-1.0: new depends on it");
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/old")));
  EXPECT_FALSE(PathExists(tree.Target("/bin/pending")));
  EXPECT_TRUE(PathExists(tree.Target("/var/pdb/new/version")));
}

}  // namespace
