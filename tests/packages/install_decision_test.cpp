#include "packages/install_decision.h"

#include <gtest/gtest.h>

#include "packages/package_database.h"
#include "tests/support/package_scenario.h"
#include "tests/support/package_tree.h"

namespace {

struct DecisionCase {
  const char* installed;  // scenario lines
  const char* package;    // the new package as a scenario line, and its architecture
  const char* architecture;
  InstallMode mode;
  Verdict verdict;
  const char* log;  // the one message, or ""
};

const DecisionCase decisionCases[] = {
    {"", "ppp 2.9", "mips", AllInstallModes & ~IgnoreUnusable, kVerdictUnusable,
     "ERROR: can not install ppp-2.9: it is not made for i386, but for mips"},
    // Disabled packages meet no dependency; of two unmet ones only the first is reported.
    {"libc 1.0\nzlib 1.2 disabled\nmodem 1.0 prov:dialer",
     "ppp 2.9 dep:libc>=1.0 dep:dialer dep:zlib>=1.2 dep:ssl", "", 0, kVerdictUnusable,
     "ERROR: can not install ppp-2.9: zlib-1.2 is not installed, but is required"},
    {"pppd 1.0 conf:ppp disabled\npptp 1.0 conf:ppp<3.0", "ppp 2.9", "", 0, kVerdictConflicts,
     "ERROR: can not install ppp-2.9: it conflicts with pptp-1.0"},
    {"ppp 3.0\npppd 1.0 conf:ppp", "ppp 2.9 dep:zlib", "arm", 0,
     kVerdictDowngrade | kVerdictUnusable | kVerdictConflicts,
     "WARNING: omitting package ppp-2.9: newer package ppp-3.0 is already installed"},
    {"ppp 2.8", "ppp 2.9", "arm", AllowUpgrade, kVerdictUpgrade | kVerdictUnusable,
     "ERROR: can not install ppp-2.9: it is not made for i386, but for arm"},
};

TEST(InstallDecisionTest, VerdictAndItsOneMessage) {
  for (const DecisionCase& c : decisionCases) {
    SCOPED_TRACE(c.installed);
    PackageTree tree;
    AddScenarioPackages(c.package);
    PackageDatabase& db = GetPackageDatabase();
    std::unique_ptr<Package> p = db.Take(db.Records().back().get());
    AddScenarioPackages(c.installed);
    p->architecture = c.architecture;
    testing::internal::CaptureStdout();
    EXPECT_EQ(DecideInstall(*p, c.mode), c.verdict);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(LogText(), c.log);
  }
}

}  // namespace
