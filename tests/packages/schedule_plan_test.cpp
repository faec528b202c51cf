#include "packages/schedule_plan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "packages/package_order.h"
#include "tests/support/package_scenario.h"
#include "tests/support/package_tree.h"

namespace {

// A database and its requests, and what the plan makes of them at verbosity 1. Lists hold the
// order in which the packages are carried out.
struct Scenario {
  const char* title;
  const char* packages;
  const char* actions;
  const char* removals;
  const char* enables;
  const char* log;
};

const Scenario scenarios[] = {
    {"an empty database plans nothing", "", "", "", "", ""},
    {"disabling the only enabled package is cancelled", "a 1.0 do:disable\nb 1.0 disabled", "", "",
     "", "ERROR: can not uninstall or disable all packages"},
    {"uninstalling everything is cancelled, every action with it",
     "a 1.0 do:uninstall\nb 1.0 disabled do:enable dep:gone", "", "", "",
     "ERROR: can not uninstall or disable all packages"},
    {"a needed package is not uninstalled", "a 1.0 dep:b\nb 2.0 do:uninstall", "", "", "",
     "WARNING: can not uninstall b-2.0: a depends on it"},
    {"a needed package is not disabled", "a 1.0 dep:b>=1.0\nb 1.0 do:disable", "", "", "",
     "WARNING: can not disable b-1.0: a depends on it"},
    {"enabling pulls disabled providers in, transitively",
     "b 1.0 disabled dep:c\na 1.0 disabled do:enable dep:b\nc 1.0 disabled\nz 1.0",
     "b:enable a:enable c:enable", "", "a b c", ""},
    {"a provides entry meets a dependency",
     "a 1.0 disabled do:enable dep:dhcp\nd1 1.0 disabled prov:dhcp\nx 1.0", "a:enable d1:enable",
     "", "a d1", ""},
    {"a dependency cycle is enabled once around",
     "a 1.0 disabled do:enable dep:b\nb 1.0 disabled dep:a\nx 1.0", "a:enable b:enable", "", "b a",
     ""},
    {"a package stops being ensured at a dependency without candidates, and goes",
     "a 1.0 disabled do:enable dep:gone dep:b\nb 1.0 disabled\nx 1.0", "a:uninstall", "a", "", ""},
    {"enabling disables the enabled package it conflicts with",
     "a 1.0\nb 1.0 disabled do:enable conf:a", "a:disable b:enable", "a", "b", ""},
    {"enabling disables the enabled package that conflicts with it",
     "a 1.0 conf:b\nb 1.0 disabled do:enable", "a:disable b:enable", "a", "b", ""},
    {"of two conflicting enables the declaring first one wins",
     "p 1.0 disabled do:enable conf:q\nq 1.0 disabled do:enable\nz 1.0", "p:enable", "", "p",
     "WARNING: can not enable q: p-1.0 conflicts with it"},
    {"of two conflicting enables the declaring second one wins",
     "p 1.0 disabled do:enable\nq 1.0 disabled do:enable conf:p\nz 1.0", "q:enable", "", "q",
     "WARNING: can not enable p: q-1.0 conflicts with it"},
    {"a package pushed out by a conflict takes its dependents with it",
     "a 1.0\nb 1.0 dep:a\nc 1.0 disabled do:enable conf:a\nx 1.0", "a:disable b:disable c:enable",
     "b a", "c", ""},
    {"a disabled dependent of an uninstalled package goes too, dependents first",
     "x 1.0\na 1.0 disabled dep:b\nb 1.0 do:uninstall", "a:uninstall b:uninstall", "a b", "", ""},
    {"a dependent whose provider left its range goes silently", "a 1.0 dep:b<2.0\nb 2.0\nz 1.0",
     "a:uninstall", "a", "", ""},
    {"uninstalling a bundle record uninstalls its members",
     "m1 1.0 in:B\nm2 1.0 in:B\nB 1.0 bundle do:uninstall\nx 1.0",
     "m1:uninstall m2:uninstall B:uninstall", "m1 m2 B", "", ""},
    {"disabling a bundle record disables its members but not those being uninstalled",
     "m1 1.0 in:B do:uninstall\nm2 1.0 in:B\nB 1.0 bundle do:disable\nx 1.0",
     "m1:uninstall m2:disable B:disable", "m1 m2 B", "", ""},
    {"disabling every member disables the bundle record",
     "m1 1.0 in:B do:disable\nm2 1.0 in:B do:disable\nB 1.0 bundle\nx 1.0",
     "m1:disable m2:disable B:disable", "m1 m2 B", "", ""},
    {"uninstalling every member uninstalls the bundle record",
     "m1 1.0 in:B do:uninstall\nm2 1.0 in:B do:uninstall\nB 1.0 bundle\nx 1.0",
     "m1:uninstall m2:uninstall B:uninstall", "m1 m2 B", "", ""},
    {"a bundle with one member left enabled stays",
     "m1 1.0 in:B do:disable\nm2 1.0 in:B\nB 1.0 bundle", "m1:disable", "m1", "", ""},
    {"a bundle record without members goes", "B 1.0 bundle\nx 1.0", "B:uninstall", "B", "", ""},
    {"enabling a member enables its bundle record",
     "m1 1.0 disabled in:B do:enable\nm2 1.0 disabled in:B\nB 1.0 bundle disabled\nx 1.0",
     "m1:enable B:enable", "", "m1 B", ""},
    {"enabling a bundle record enables its disabled members",
     "m1 1.0 disabled in:B\nm2 1.0 in:B\nB 1.0 bundle disabled do:enable\nx 1.0",
     "m1:enable B:enable", "", "m1 B", ""},
    {"a disabled bundle whose member's enable is cancelled stays disabled",
     "m1 1.0 disabled in:B\nB 1.0 bundle disabled do:enable\ny 1.0 disabled do:enable conf:m1\n"
     "x 1.0",
     "y:enable", "", "y", "WARNING: can not enable m1: y-1.0 conflicts with it"},
    {"a member of a missing bundle record is left as it is", "m 1.0 in:gone do:disable\nx 1.0",
     "m:disable", "m", "", ""},

    // An enabled package asked to be enabled again once counted as going away, so its
    // dependents were uninstalled and a bundle of such members was uninstalled with its record.
    {"an enabled package asked to be enabled still meets its dependents",
     "a 1.0 dep:b\nb 1.0 do:enable", "b:enable", "", "b", ""},
    {"an enabled member asked to be enabled keeps its bundle", "m 1.0 in:B do:enable\nB 1.0 bundle",
     "m:enable", "", "m", ""},
    // A disabled package being uninstalled once counted as staying, so its disabled dependents
    // were kept with a dependency that was about to vanish.
    {"a disabled dependent of an uninstalled disabled package goes too",
     "x 1.0\na 1.0 disabled dep:b\nb 1.0 disabled do:uninstall", "a:uninstall b:uninstall", "a b",
     "", ""},
    // A disabled provider kept for a package being enabled once stayed disabled, and the package
    // it was kept for was then left disabled itself.
    {"a disabled provider kept for a package being enabled is enabled",
     "a 1.0 disabled do:enable dep:b\nb 1.0 disabled do:uninstall\nx 1.0", "a:enable b:enable", "",
     "a b", "WARNING: can not uninstall b-1.0: a depends on it"},
    // Ensuring a bundle member ensures its bundle record, whose own bundle may lead back: this
    // recursed without end.
    {"two bundles naming each other are enabled once around",
     "b1 1.0 bundle disabled in:b2 do:enable\nb2 1.0 bundle disabled in:b1\nx 1.0",
     "b1:enable b2:enable", "", "b1 b2", ""},
    {"a package naming itself as its bundle is enabled", "s 1.0 disabled in:s do:enable\nx 1.0",
     "s:enable", "", "s", ""},
};

TEST(SchedulePlanTest, ScenariosAtEachVerbosity) {
  for (const Scenario& s : scenarios) {
    for (int verbosity : {0, 1, 2}) {
      PackageTree tree;
      AddScenarioPackages(s.packages);
      std::vector<Package*> removals, enables;
      PlanSchedule(removals, enables, verbosity);
      SCOPED_TRACE(std::string(s.title) + " at verbosity " + std::to_string(verbosity));
      EXPECT_EQ(ScheduledActions(), s.actions);
      EXPECT_EQ(Names(removals), s.removals);
      EXPECT_EQ(Names(enables), s.enables);
      EXPECT_EQ(LogText(), verbosity == 0 ? "" : s.log);
    }
  }
}

TEST(SchedulePlanTest, PlansAreAddedInFrontOfWhatTheListsHeld) {
  PackageTree tree;
  AddScenarioPackages(
      "a 1.0 do:uninstall\nb 1.0 dep:a\nc 1.0\nd 1.0 disabled do:enable\ne 1.0 do:disable");
  Package* c = FindPackage("c");
  std::vector<Package*> removals{c}, enables{c};
  PlanSchedule(removals, enables, 1);
  EXPECT_EQ(Names(removals), "e c");
  EXPECT_EQ(Names(enables), "d c");
  EXPECT_EQ(LogText(), "WARNING: can not uninstall a-1.0: b depends on it");
}

// Uninstalling the bottom of a long chain of disabled packages takes the whole chain, each
// dependent removed before what it depends on, even when the database lists the chain bottom up.
TEST(SchedulePlanTest, UninstallingTheBottomOfALongChainTakesItAll) {
  PackageTree tree;
  std::string text = "keep 1.0\np300 1.0 disabled do:uninstall\n";
  std::string expected;
  for (int i = 299; i >= 0; --i) {
    text += "p" + std::to_string(i) + " 1.0 disabled dep:p" + std::to_string(i + 1) + "\n";
    expected = "p" + std::to_string(i) + " " + expected;
  }
  AddScenarioPackages(text);
  std::vector<Package*> removals, enables;
  PlanSchedule(removals, enables, 1);
  EXPECT_EQ(Names(removals), expected + "p300");
  EXPECT_EQ(FindPackage("keep")->scheduledAction, 0u);
  EXPECT_EQ(LogText(), "");
}

// The dependency check as first described: a pass over the database that starts again from the
// first package after every change.
void DropUnsatisfiedByRestarting() {
  auto& packages = GetPackageDatabase().packages;
  for (std::size_t i = 0; i < packages.size();) {
    Package& p = *packages[i];
    std::uint32_t before = p.scheduledAction;
    for (const Dependency& d : p.dependencies) {
      std::vector<Package*> candidates;
      FindCandidates(d, candidates, true);
      CandidateState state = ClassifyCandidates(candidates);
      bool settled = p.scheduledAction == 1 || p.scheduledAction == 3 ||
                     (p.disabled && p.scheduledAction == 0);
      if (state == kCandidateMissing && p.scheduledAction != 1)
        p.scheduledAction = 1;
      else if (state == kCandidateDormant && !settled)
        p.scheduledAction = 3;
      if (p.scheduledAction != before)
        break;
    }
    i = p.scheduledAction != before ? 0 : i + 1;
  }
}

// The single steps of a plan, one after the other, each looking everything up afresh.
void PlanStepByStep() {
  auto& packages = GetPackageDatabase().packages;
  PropagateBundleActions();
  for (const auto& p : packages) {
    if (WillBeEnabled(*p))
      EnsureDependencies(*p, 0);
  }
  for (const auto& p : packages) {
    if (WillBeEnabled(*p))
      ResolveConflicts(*p, 0);
  }
  DropUnsatisfiedByRestarting();
  SettleBundles();
  if (!AnyEnabledAfterPlan()) {
    for (const auto& p : packages)
      p->scheduledAction = 0;
  }
}

std::string RandomDatabase(std::mt19937& random) {
  auto pick = [&random](int n) { return int(random() % unsigned(n)); };
  const char* actions[] = {"", " do:uninstall", " do:enable", " do:disable"};
  const char* ranges[] = {"", ">=2.0", "<2.0", "=1.0"};
  std::string text;
  int count = 2 + pick(24);
  for (int i = 0; i < count; ++i) {
    std::string name =
        pick(6) == 0 ? "B" + std::to_string(pick(3)) : "p" + std::to_string(pick(count));
    text += name + " " + std::to_string(1 + pick(3)) + ".0";
    if (name[0] == 'B')
      text += " bundle";
    else if (pick(4) == 0)
      text += " in:B" + std::to_string(pick(3));
    for (int k = pick(3); k > 0; --k)
      text += " dep:p" + std::to_string(pick(count)) + ranges[pick(4)];
    if (pick(5) == 0)
      text += " prov:p" + std::to_string(pick(count)) + "/" + std::to_string(pick(3) - 1);
    if (pick(5) == 0)
      text += " conf:p" + std::to_string(pick(count)) + ranges[pick(4)];
    if (pick(3) == 0)
      text += " disabled";
    text += std::string(actions[pick(4)]) + "\n";
  }
  return text;
}

// The plan finds each dependency's candidates once through an index, examines only the packages
// that can conflict, and revisits only the dependents of a changed package. None of that may
// change the outcome of the steps run one by one as first described.
TEST(SchedulePlanTest, PlanAgreesWithItsStepsRunOneByOne) {
  std::mt19937 random(55);
  PackageTree tree;
  int changed = 0;
  for (int round = 0; round < 400; ++round) {
    std::string text = RandomDatabase(random);
    DeleteAllPackages();
    AddScenarioPackages(text);
    std::string requested = ScheduledActions();
    std::vector<Package*> removals, enables;
    PlanSchedule(removals, enables, 0);
    std::string planned = ScheduledActions();
    DeleteAllPackages();
    AddScenarioPackages(text);
    PlanStepByStep();
    std::string stepped = ScheduledActions();
    changed += planned != requested;
    ASSERT_EQ(planned, stepped) << text;
  }
  EXPECT_GT(changed, 200);  // most rounds do give the plan something to settle
}

}  // namespace
