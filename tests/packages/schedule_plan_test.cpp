#include "packages/schedule_plan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "packages/package_order.h"
#include "packages/schedule_apply.h"
#include "packages/schedule_plan_internal.h"
#include "tests/support/package_scenario.h"

namespace {

// A database and its requests, and what the plan makes of them at verbosity 1. Lists hold the
// order in which the packages are carried out.
struct Scenario {
  const char *packages, *actions, *removals, *enables, *log;
};

const Scenario scenarios[] = {
    // Requests refused or cancelled.
    {"a 1.0 do:uninstall\nb 1.0 disabled do:enable dep:gone", "", "", "",
     "ERROR: can not uninstall or disable all packages"},
    {"a 1.0 dep:b\nb 2.0 do:uninstall", "", "", "",
     "WARNING: can not uninstall b-2.0: a depends on it"},
    // Enabling pulls disabled providers in; conflicts push enabled ones out, the unmet go too.
    {"b 1.0 disabled dep:c\na 1.0 disabled do:enable dep:b\nc 1.0 disabled\nz 1.0",
     "b:enable a:enable c:enable", "", "a b c", ""},
    {"a 1.0 disabled do:enable dep:gone dep:b\nb 1.0 disabled\nx 1.0", "a:uninstall", "a", "", ""},
    {"a 1.0 conf:b\nb 1.0 disabled do:enable", "a:disable b:enable", "a", "b", ""},
    {"p 1.0 disabled do:enable\nq 1.0 disabled do:enable conf:p\nz 1.0", "q:enable", "", "q",
     "WARNING: can not enable p: q-1.0 conflicts with it"},
    {"a 1.0\nb 1.0 dep:a\nc 1.0 disabled do:enable conf:a\nx 1.0", "a:disable b:disable c:enable",
     "b a", "c", ""},
    {"a 1.0 dep:b<2.0\nb 2.0\nz 1.0", "a:uninstall", "a", "", ""},
    // A bundle's action reaches its members; a bundle whose members all go, or has none, follows.
    {"m1 1.0 in:B do:uninstall\nm2 1.0 in:B\nB 1.0 bundle do:disable\nx 1.0",
     "m1:uninstall m2:disable B:disable", "m1 m2 B", "", ""},
    {"m1 1.0 in:B do:disable\nm2 1.0 in:B do:disable\nB 1.0 bundle\nx 1.0",
     "m1:disable m2:disable B:disable", "m1 m2 B", "", ""},
    {"m1 1.0 in:B do:disable\nm2 1.0 in:B\nB 1.0 bundle", "m1:disable", "m1", "", ""},
    {"B 1.0 bundle\nx 1.0", "B:uninstall", "B", "", ""},
    {"m1 1.0 disabled in:B\nm2 1.0 in:B\nB 1.0 bundle disabled do:enable\nx 1.0",
     "m1:enable B:enable", "", "m1 B", ""},
    {"m1 1.0 disabled in:B\nB 1.0 bundle disabled do:enable\ny 1.0 disabled do:enable conf:m1\n"
     "x 1.0",
     "y:enable", "", "y", "WARNING: can not enable m1: y-1.0 conflicts with it"},
    // An enabled package enabled again once counted as going: its dependents and bundle went.
    {"a 1.0 dep:b\nb 1.0 do:enable", "b:enable", "", "b", ""},
    {"m 1.0 in:B do:enable\nB 1.0 bundle", "m:enable", "", "m", ""},
    // A disabled package being uninstalled once counted as staying, and kept its dependents;
    // listed bottom up, each dependent is still removed before what it depends on.
    {"x 1.0\nc 1.0 disabled do:uninstall\nb 1.0 disabled dep:c\na 1.0 disabled dep:b",
     "c:uninstall b:uninstall a:uninstall", "a b c", "", ""},
    // A disabled provider kept for a package being enabled once stayed disabled, and so did it.
    {"a 1.0 disabled do:enable dep:b\nb 1.0 disabled do:uninstall\nx 1.0", "a:enable b:enable", "",
     "a b", "WARNING: can not uninstall b-1.0: a depends on it"},
    // A bundle member's bundle whose own bundle leads back once recursed without end.
    {"b1 1.0 bundle disabled in:b2 do:enable\nb2 1.0 bundle disabled in:b1\nx 1.0",
     "b1:enable b2:enable", "", "b1 b2", ""},
};

TEST(SchedulePlanTest, ScenariosAtEachVerbosity) {
  for (const Scenario& s : scenarios) {
    for (Verbosity verbosity : {Verbosity::kSilent, Verbosity::kChanges, Verbosity::kEverything}) {
      PackageTree tree;
      AddScenarioPackages(s.packages);
      std::vector<Package*> removals, enables;
      PlanSchedule(removals, enables, verbosity);
      SCOPED_TRACE(std::string(s.packages) + " at verbosity " +
                   std::to_string(static_cast<int>(verbosity)));
      EXPECT_EQ(ScheduledActions(), s.actions);
      EXPECT_EQ(Names(removals), s.removals);
      EXPECT_EQ(Names(enables), s.enables);
      EXPECT_EQ(LogText(), verbosity == Verbosity::kSilent ? "" : s.log);
    }
    // Carried out, the schedule reports whether it did anything and leaves nothing pending.
    PackageTree tree;
    InstallScenarioPackages(tree, s.packages);
    EXPECT_EQ(ApplySchedule(Verbosity::kEverything), *s.actions != 0) << s.packages;
    EXPECT_EQ(ScheduledActions(), "") << s.packages;
  }
}

// The dependency check as first described: a pass over the database that starts again from the
// first package after every change.
void DropUnsatisfiedByRestarting() {
  auto packages = GetPackageDatabase().Records();
  for (std::size_t i = 0; i < packages.size(); ++i) {
    Package& p = *packages[i];
    std::uint32_t& action = p.scheduledAction;
    bool settled = action == 1 || action == 3 || (p.disabled && action == 0);
    for (const Dependency& d : p.dependencies) {
      std::vector<Package*> candidates;
      FindCandidates(d, candidates, DisabledPackages::kInclude);
      CandidateState state = ClassifyCandidates(candidates);
      std::uint32_t wanted = state == kCandidateMissing               ? 1
                             : state == kCandidateDormant && !settled ? 3
                                                                      : action;
      if (wanted != action) {
        action = wanted;
        i = std::size_t(-1);  // from the first package again
        break;
      }
    }
  }
}

// The single steps of a plan, one after the other, each looking everything up afresh.
void PlanStepByStep() {
  auto packages = GetPackageDatabase().Records();
  PropagateBundleActions();
  for (bool ensuring : {true, false}) {
    for (const auto& p : packages) {
      if (WillBeEnabled(*p)) {
        ensuring ? EnsureDependencies(*p, Verbosity::kSilent)
                 : ResolveConflicts(*p, Verbosity::kSilent);
      }
    }
  }
  DropUnsatisfiedByRestarting();
  SettleBundles();
  bool keep = AnyEnabledAfterPlan();
  for (const auto& p : packages) {
    p->scheduledAction = keep ? p->scheduledAction : 0;
  }
}

std::string RandomDatabase(std::mt19937& random) {
  auto pick = [&random](int n) { return int(random() % unsigned(n)); };
  const char* actions[] = {"", " do:uninstall", " do:enable", " do:disable"};
  const char* ranges[] = {"", ">=2.0", "<2.0", "=1.0"};
  std::string text;
  int count = 2 + pick(24);
  auto some = [&] { return "p" + std::to_string(pick(count)); };
  for (int i = 0; i < count; ++i) {
    bool bundle = pick(6) == 0;
    text += (bundle ? "B" + std::to_string(pick(3)) : some()) + " " + std::to_string(1 + pick(3)) +
            ".0";
    text += bundle ? " bundle" : pick(4) == 0 ? " in:B" + std::to_string(pick(3)) : "";
    text += bundle && pick(2) == 0 ? " has:" + some() : "";  // conflicts reach through members
    for (int k = pick(3); k > 0; --k) {
      text += " dep:" + some() + ranges[pick(4)];
    }
    text += pick(5) == 0 ? " prov:" + some() + "/" + std::to_string(pick(3) - 1) : "";
    text += pick(5) == 0 ? " conf:" + some() + ranges[pick(4)] : "";
    text += std::string(pick(3) == 0 ? " disabled" : "") + actions[pick(4)] + "\n";
  }
  return text;
}

// The plan's index, its conflict shortlist and its revisiting only a changed package's dependents
// must not change the outcome of the steps run one by one as first described.
TEST(SchedulePlanTest, PlanAgreesWithItsStepsRunOneByOne) {
  std::mt19937 random(55);
  PackageTree tree;
  int changed = 0;
  for (int round = 0; round < 150; ++round) {
    std::string text = RandomDatabase(random), planned[2];
    for (int stepwise : {0, 1}) {
      DeleteAllPackages();
      AddScenarioPackages(text);
      std::string requested = ScheduledActions();
      std::vector<Package*> removals, enables;
      stepwise ? PlanStepByStep() : PlanSchedule(removals, enables, Verbosity::kSilent);
      planned[stepwise] = ScheduledActions();
      changed += !stepwise && planned[0] != requested;
    }
    ASSERT_EQ(planned[0], planned[1]) << text;
  }
  EXPECT_GT(changed, 75);  // most rounds do give the plan something to settle
}

}  // namespace
