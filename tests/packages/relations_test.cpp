#include "packages/relations.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const PackageVersion v28 = MakeVersion(2, 8, 'f', 0);
const PackageVersion v29 = MakeVersion(2, 9, 'f', 0);
const PackageVersion v295 = MakeVersion(2, 9, 'f', 5);
const PackageVersion v30 = MakeVersion(3, 0, 'f', 0);

std::unique_ptr<PackageInfo> Make(const std::string& name, PackageVersion version = v29,
                                  std::uint32_t buildTime = 0) {
  auto p = std::make_unique<PackageInfo>(name);
  p->version = version;
  p->buildTime = buildTime;
  return p;
}

// Adds a member to a bundle and returns it for further setup.
PackageInfo& AddMember(PackageInfo& bundle, const std::string& name, PackageVersion version) {
  bundle.members.push_back(Make(name, version));
  return *bundle.members.back();
}

TEST(RelationsTest, NamesDifferingInCaseOrLengthAreDifferent) {
  struct Case {
    const char *a, *b;
    bool equal;
  } cases[] = {{"ppp", "ppp", true},
               {"ppp", "PPP", false},
               {"ppp", "pppd", false},
               {"pppd", "ppp", false},
               {"", "", true}};
  for (const Case& c : cases) {
    EXPECT_EQ(NameEquals(c.a, c.b), c.equal) << c.a << " " << c.b;
    EXPECT_EQ(Satisfies(*Make(c.a), Dependency{c.b, 0, 0, 0}), c.equal) << c.a << " " << c.b;
  }
  // A byte after an embedded NUL still counts.
  EXPECT_FALSE(NameEquals(std::string("ppp\0x", 5), std::string("ppp\0y", 5)));
  EXPECT_FALSE(NameEquals(std::string("ppp\0", 4), "ppp"));
}

TEST(RelationsTest, SatisfiesInclusiveBoundsWithZeroAsNoBound) {
  struct Case {
    PackageVersion version, min, max;
    bool satisfied;
  } cases[] = {
      {v29, 0, 0, true},          {0, 0, 0, true},       {0, v28, 0, false},
      {0, 0, v30, true},          {v29, v29, v29, true}, {v295, v29, v29, false},
      {v28, v29, 0, false},       {v30, 0, v29, false},  {v30, v29, v30, true},
      {0xffffffff, v29, 0, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Satisfies(*Make("ppp", c.version), {"ppp", c.min, c.max}), c.satisfied)
        << std::hex << c.version << " in " << c.min << ".." << c.max;
  }
}

TEST(RangesOverlapTest, BoundsAndNames) {
  struct Case {
    Dependency a, b;
    bool overlap;
  } cases[] = {
      {{"ppp", v29, 0}, {"ppp", 0, v28}, false},      {{"ppp", 0, v28}, {"ppp", v29, 0}, false},
      {{"ppp", v29, 0}, {"ppp", 0, v29}, true},  // touching bounds are inclusive
      {{"ppp", 0, 0}, {"ppp", v29, v29}, true},       {{"ppp", v29, v29}, {"ppp", 0, 0}, true},
      {{"ppp", v28, v29}, {"ppp", v295, v30}, false}, {{"ppp", v28, v295}, {"ppp", v29, v30}, true},
      {{"ppp", 0, 0}, {"PPP", 0, 0}, false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(RangesOverlap(cases[i].a, cases[i].b), cases[i].overlap) << "case " << i;
  }
}

TEST(RelationsTest, ProvidesMatchAndBearsName) {
  auto p = Make("exim");
  p->provides = {{"smtpd", v28, v28}, {"mta", v29, v29}};
  EXPECT_TRUE(ProvidesMatch(*p, {"mta", 0, 0}));
  EXPECT_TRUE(ProvidesMatch(*p, {"mta", v28, v29}));
  EXPECT_FALSE(ProvidesMatch(*p, {"mta", v295, 0}));
  EXPECT_FALSE(ProvidesMatch(*p, {"exim", 0, 0}));  // its own name is not a provides entry

  AddMember(*p, "ppp", v29);
  EXPECT_TRUE(BearsName(*p, "exim") && BearsName(*p, "ppp"));
  EXPECT_FALSE(BearsName(*p, "PPP") || BearsName(*p, "pp") || BearsName(*p, "mta"));
}

TEST(DependsOnTest, DirectProvidedAndThroughBundleMembers) {
  auto app = Make("app");
  app->dependencies = {{"lib", v29, 0}};
  auto lib = Make("lib", v29);
  auto oldLib = Make("lib", v28);
  auto provider = Make("biglib");
  provider->provides = {{"lib", v30, v30}};
  auto bundle = Make("suite");
  AddMember(*bundle, "other", v29);
  AddMember(*bundle, "lib", v295);
  auto appBundle = Make("apps");
  AddMember(*appBundle, "app", v29).dependencies = {{"lib", 0, 0}};
  auto unrelated = Make("zzz");
  struct Case {
    const char* what;
    const PackageInfo &a, &b;
    bool depends;
  } cases[] = {
      {"direct", *app, *lib, true},
      {"version too old", *app, *oldLib, false},
      {"through provides", *app, *provider, true},
      {"member of b", *app, *bundle, true},
      {"member of a", *appBundle, *lib, true},
      {"members on both sides", *appBundle, *bundle, true},
      {"reverse", *lib, *app, false},
      {"unrelated", *app, *unrelated, false},
      {"bundle itself has no deps", *bundle, *lib, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DependsOn(c.a, c.b), c.depends) << c.what;
}

TEST(ConflictsWithTest, RulesDecideInOrder) {
  // b provides a's name: priority -1 lets a replace b, 0 decides "no" before any later rule.
  auto a = Make("mail");
  a->conflicts = {{"mta", 0, 0}};  // rule 4 would match b's provides
  auto bMinus = Make("exim");
  bMinus->provides = {{"mail", 0, 0, -1}, {"mta", 0, 0, 0}};
  auto bZero = Make("exim");
  bZero->provides = {{"mail", 0, 0, 0}, {"mta", 0, 0, 0}};
  AddMember(*bZero, "mail", v29);  // rule 5 would match too

  // Rule 1 comes before rule 2.
  auto direct = Make("mail");
  direct->conflicts = {{"exim", 0, 0}};

  // Rule 3: a's own provides entries, first deciding entry wins.
  auto replacer = Make("postfix");
  replacer->provides = {{"smtpd", 0, 0, 9}, {"exim", 0, 0, -1}};
  auto firstDecides = Make("postfix");
  firstDecides->provides = {{"mta", 0, 0, 5}, {"exim", 0, 0, -1}};
  auto replacer0 = Make("postfix");
  replacer0->provides = {{"exim", 0, 0, 0}};
  auto high = Make("postfix");
  high->provides = {{"mta", 0, 0, 5}};
  auto low = Make("exim");
  low->provides = {{"mta", 0, 0, 3}};
  auto same = Make("exim");
  same->provides = {{"mta", 0, 0, 5}};

  auto plain = Make("mail");
  auto bundle = Make("suite");
  AddMember(*bundle, "mail", v28);
  auto conflictingBundle = Make("suite");
  AddMember(*conflictingBundle, "x", v29).conflicts = {{"exim", 0, 0}};

  struct Case {
    const char* what;
    const PackageInfo &a, &b;
    bool conflicts;
  } cases[] = {
      {"b provides a with -1", *a, *bMinus, true},
      {"b provides a with 0 stops", *a, *bZero, false},
      {"a conflicts b before b's provides", *direct, *bZero, true},
      {"a provides b with -1", *replacer, *bMinus, false},
      {"first deciding provides entry", *firstDecides, *low, true},
      {"a provides b with 0", *replacer0, *bMinus, true},
      {"higher priority wins", *high, *low, true},
      {"lower priority loses", *low, *high, false},
      {"equal priorities", *high, *same, false},
      {"a conflicts what b provides", *a, *low, true},
      {"b has a member named a", *plain, *bundle, true},
      {"member of a conflicts b", *conflictingBundle, *low, true},
      {"unrelated", *plain, *low, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ConflictsWith(c.a, c.b), c.conflicts) << c.what;
}

TEST(CompareVersionsTest, SameNameByVersionThenBuildTime) {
  struct Case {
    PackageVersion va;
    std::uint32_t ta;
    PackageVersion vb;
    std::uint32_t tb;
    int result;
  } cases[] = {
      {v29, 5, v29, 5, 0}, {v295, 0, v29, 9, 1}, {v29, 9, v295, 0, -1},
      {v29, 6, v29, 5, 1}, {v29, 5, v29, 6, -1}, {0xff000000, 0, 0x7f000000, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersions(*Make("p", c.va, c.ta), *Make("p", c.vb, c.tb)), c.result)
        << c.va << "/" << c.ta << " vs " << c.vb << "/" << c.tb;
  }
  EXPECT_EQ(CompareVersions(*Make("p", v30), *Make("q", v28)), 0);
}

TEST(CompareVersionsTest, BundleOnEitherSideKeepsOrientation) {
  auto bundle = Make("suite", v28);  // the bundle's own version does not count
  AddMember(*bundle, "other", v30);
  AddMember(*bundle, "ppp", v30);
  auto older = Make("ppp", v29);
  auto newer = Make("ppp", MakeVersion(3, 1, 'f', 0));
  EXPECT_EQ(CompareVersions(*bundle, *older), 1);
  EXPECT_EQ(CompareVersions(*older, *bundle), -1);
  EXPECT_EQ(CompareVersions(*bundle, *newer), -1);
  EXPECT_EQ(CompareVersions(*newer, *bundle), 1);
  EXPECT_EQ(CompareVersionsDirected(*older, *bundle, false), -1);
  EXPECT_EQ(CompareVersionsDirected(*older, *bundle, true), 1);
  EXPECT_EQ(CompareVersions(*bundle, *Make("zzz", v30)), 0);
}

}  // namespace
