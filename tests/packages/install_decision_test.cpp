#include "packages/install_decision.h"

#include <gtest/gtest.h>

#include "packages/package_database.h"
#include "tests/support/package_scenario.h"
#include "tests/support/package_tree.h"

namespace {

struct DecisionCase {
  const char* what;
  const char* installed;  // scenario lines
  const char* version;    // of the new package "ppp", which depends on what deps names
  std::vector<const char*> deps;
  const char* architecture;
  InstallMode mode;
  Verdict verdict;
  const char* log;  // the one message, or ""
};

const DecisionCase decisionCases[] = {
    {"nothing installed", "", "2.9", {}, "", 0, 0, ""},
    {"same version",
     "ppp 2.9",
     "2.9",
     {},
     "i386",
     AllowUpgrade,
     kVerdictInstalled,
     "WARNING: omitting package ppp-2.9: it is already installed"},
    {"same version accepted", "ppp 2.9", "2.9", {}, "i386", AcceptInstalled, kVerdictInstalled, ""},
    {"upgrade not allowed",
     "ppp 2.8",
     "2.9",
     {},
     "",
     AllowDowngrade,
     kVerdictUpgrade,
     "WARNING: omitting package ppp-2.9: older package is already installed"},
    {"upgrade allowed", "ppp 2.8", "2.9", {}, "", AllowUpgrade, kVerdictUpgrade, ""},
    {"downgrade not allowed",
     "ppp 3.0rc1",
     "2.9",
     {},
     "",
     AllowUpgrade,
     kVerdictDowngrade,
     "WARNING: omitting package ppp-2.9: newer package ppp-3.0rc1 is already installed"},
    {"wrong architecture",
     "",
     "2.9",
     {},
     "mips",
     AllInstallModes & ~IgnoreUnusable,
     kVerdictUnusable,
     "ERROR: can not install ppp-2.9: it is not made for i386, but for mips"},
    {"two missing dependencies report the first",
     "libc 1.0",
     "2.9",
     {"libc>=1.0", "zlib>=1.2", "ssl"},
     "",
     0,
     kVerdictUnusable,
     "ERROR: can not install ppp-2.9: zlib-1.2 is not installed, but is required"},
    {"a disabled or provided dependency",
     "zlib 1.2 disabled\nmodem 1.0 prov:dialer",
     "2.9",
     {"dialer", "zlib"},
     "",
     0,
     kVerdictUnusable,
     "ERROR: can not install ppp-2.9: zlib is not installed, but is required"},
    {"missing dependency ignored", "", "2.9", {"zlib"}, "", IgnoreUnusable, kVerdictUnusable, ""},
    {"conflict with an enabled package",
     "pppd 1.0 conf:ppp<3.0",
     "2.9",
     {},
     "",
     0,
     kVerdictConflicts,
     "ERROR: can not install ppp-2.9: it conflicts with pppd-1.0"},
    {"conflict with a disabled package", "pppd 1.0 conf:ppp disabled", "2.9", {}, "", 0, 0, ""},
    {"only the first hindrance speaks",
     "ppp 3.0\npppd 1.0 conf:ppp",
     "2.9",
     {"zlib"},
     "arm",
     0,
     kVerdictDowngrade | kVerdictUnusable | kVerdictConflicts,
     "WARNING: omitting package ppp-2.9: newer package ppp-3.0 is already installed"},
    {"a permitted hindrance lets the next speak",
     "ppp 2.8",
     "2.9",
     {},
     "arm",
     AllowUpgrade,
     kVerdictUpgrade | kVerdictUnusable,
     "ERROR: can not install ppp-2.9: it is not made for i386, but for arm"},
};

TEST(InstallDecisionTest, VerdictAndItsOneMessage) {
  for (const DecisionCase& c : decisionCases) {
    SCOPED_TRACE(c.what);
    PackageTree tree;
    AddScenarioPackages(c.installed);
    PackageInfo p("ppp");
    ASSERT_TRUE(ParseVersion(c.version, p.version));
    p.architecture = c.architecture;
    for (const char* dep : c.deps) {
      ASSERT_TRUE(ParseDependency(dep, p.dependencies.emplace_back()));
    }
    testing::internal::CaptureStdout();
    Verdict verdict = DecideInstall(p, c.mode);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(verdict, c.verdict);
    EXPECT_EQ(LogText(), c.log);
  }
}

}  // namespace
