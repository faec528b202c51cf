#include "packages/relations.h"

#include <gtest/gtest.h>

#include <memory>

const PackageVersion v28 = MakeVersion(2, 8, 'f', 0), v29 = MakeVersion(2, 9, 'f', 0);
const PackageVersion v295 = MakeVersion(2, 9, 'f', 5), v30 = MakeVersion(3, 0, 'f', 0);

// A package of that version with these provides and conflicts lists.
static std::unique_ptr<PackageInfo> Make(const std::string& name, PackageVersion version = v29,
                                         std::vector<Dependency> provides = {},
                                         std::vector<Dependency> conflicts = {}) {
  auto p = std::make_unique<PackageInfo>(name);
  p->version = version;
  p->provides = std::move(provides);
  p->conflicts = std::move(conflicts);
  return p;
}

// Adds a member to a bundle and returns it for further setup.
static PackageInfo& AddMember(PackageInfo& bundle, const std::string& name,
                              PackageVersion version) {
  bundle.members.push_back(Make(name, version));
  return *bundle.members.back();
}

// Bounds are inclusive, 0 is no bound, versions compare unsigned, names must match exactly; a
// need is met through what b provides, or through a member of either bundle.
TEST(RelationsTest, SatisfiesAndDependsOn) {
  EXPECT_TRUE(Satisfies(*Make("ppp", 0xffffffff), {"ppp", v29, 0}));
  EXPECT_TRUE(Satisfies(*Make("ppp", v30), {"ppp", v29, v30}));
  EXPECT_FALSE(Satisfies(*Make("ppp", v30), {"ppp", 0, v295}));
  EXPECT_FALSE(Satisfies(*Make("ppp", 0), {"ppp", v28, 0}));
  EXPECT_FALSE(Satisfies(*Make("PPP"), {"ppp", 0, 0}) || Satisfies(*Make("pppd"), {"ppp", 0, 0}));
  auto app = Make("app");
  app->dependencies = {{"lib", v29, 0}};
  auto bundle = Make("suite");
  AddMember(*bundle, "app", v29).dependencies = {{"lib", v29, 0}};
  EXPECT_TRUE(DependsOn(*app, *Make("biglib", v29, {{"lib", v30, v30}})));
  EXPECT_FALSE(DependsOn(*app, *Make("biglib", v29, {{"lib", 0, v28}})));
  AddMember(*bundle, "lib", v295);
  EXPECT_TRUE(DependsOn(*app, *bundle) && DependsOn(*bundle, *Make("lib")));
  EXPECT_FALSE(DependsOn(*Make("lib"), *app));
}

TEST(RelationsTest, ConflictsWithRulesDecideInOrder) {
  // b provides a's name: priority -1 lets a replace b, 0 decides "no" before any later rule (a's
  // conflicts would match b's provides by rule 4, b's member named a by rule 5).
  auto a = Make("mail", v29, {}, {{"mta", 0, 0}});
  auto bMinus = Make("exim", v29, {{"mail", 0, 0, -1}, {"mta", 0, 0, 0}});
  auto bZero = Make("exim", v29, {{"mail", 0, 0, 0}, {"mta", 0, 0, 0}});
  AddMember(*bZero, "mail", v29);
  auto direct = Make("mail", v29, {}, {{"exim", 0, 0}});  // rule 1 comes before rule 2
  // Rule 3: a's own provides entries, in order; the first deciding entry wins.
  auto replacer = Make("postfix", v29, {{"smtpd", 0, 0, 9}, {"exim", 0, 0, -1}});
  auto firstDecides = Make("postfix", v29, {{"mta", 0, 0, 5}, {"exim", 0, 0, -1}});
  auto replacer0 = Make("postfix", v29, {{"exim", 0, 0, 0}});
  auto high = Make("postfix", v29, {{"mta", 0, 0, 5}});
  auto low = Make("exim", v29, {{"mta", 0, 0, 3}});
  auto same = Make("exim", v29, {{"mta", 0, 0, 5}});
  auto plain = Make("mail");
  auto bundle = Make("suite");
  AddMember(*bundle, "mail", v28);
  auto conflictingBundle = Make("suite");
  AddMember(*conflictingBundle, "x", v29).conflicts = {{"exim", 0, 0}};
  const std::tuple<const char*, const PackageInfo*, const PackageInfo*, bool> cases[] = {
      {"b provides a with -1", a.get(), bMinus.get(), true},
      {"b provides a with 0 stops", a.get(), bZero.get(), false},
      {"a conflicts b before b's provides", direct.get(), bZero.get(), true},
      {"a provides b with -1", replacer.get(), bMinus.get(), false},
      {"first deciding provides entry", firstDecides.get(), low.get(), true},
      {"a provides b with 0", replacer0.get(), bMinus.get(), true},
      {"higher priority wins", high.get(), low.get(), true},
      {"lower priority loses", low.get(), high.get(), false},
      {"equal priorities", high.get(), same.get(), false},
      {"a conflicts what b provides", a.get(), low.get(), true},
      {"b has a member named a", plain.get(), bundle.get(), true},
      {"member of a conflicts b", conflictingBundle.get(), low.get(), true},
      {"unrelated", plain.get(), low.get(), false},
  };
  for (const auto& [what, first, second, conflicts] : cases) {
    EXPECT_EQ(ConflictsWith(*first, *second), conflicts) << what;
  }
}

// By version, then by build time; a bundle compares through its member of the other's name,
// oriented as asked on either side; unrelated packages compare equal.
TEST(RelationsTest, CompareVersionsKeepsOrientationThroughABundle) {
  auto early = Make("ppp", v29), late = Make("ppp", v29);
  late->buildTime = 1;
  EXPECT_EQ(CompareVersions(*early, *late), -1);
  EXPECT_EQ(CompareVersions(*late, *late), 0);
  EXPECT_EQ(CompareVersions(*Make("ppp", 0xff000000), *late), 1);
  auto bundle = Make("suite", v28);  // the bundle's own version does not count
  AddMember(*bundle, "other", v30);
  AddMember(*bundle, "ppp", v30);
  auto newer = Make("ppp", MakeVersion(3, 1, 'f', 0));
  EXPECT_EQ(CompareVersions(*bundle, *late), 1);
  EXPECT_EQ(CompareVersions(*late, *bundle), -1);
  EXPECT_EQ(CompareVersions(*bundle, *newer), -1);
  EXPECT_EQ(CompareVersions(*newer, *bundle), 1);
  EXPECT_EQ(CompareVersionsDirected(*late, *bundle, true), 1);
  EXPECT_EQ(CompareVersions(*bundle, *Make("zzz", v30)), 0);
  EXPECT_TRUE(BearsName(*bundle, "suite") && BearsName(*bundle, "ppp") &&
              !BearsName(*bundle, "pp"));
}
