#include "packages/install_decision.h"

#include <vector>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "packages/package_order.h"
#include "packages/relations.h"
#include "packages/reporter.h"

// The first package in database order that is not disabled and conflicts with p (the installed
// one on the winning side), or null.
Package* FindConflicting(const PackageInfo& p);

// The text of a dependency in messages: its name, with "-" and the version text of its minimum
// when that is given.
std::string DependencyText(const Dependency& d);

const char* const kSystemArchitecture = "i386";

namespace {

// Collects the verdict and lets only its first unpermitted hindrance speak.
struct Decision {
  InstallMode mode;
  Verdict verdict = 0;
  bool reported = false;

  // Sets bit; true when the caller should report it (the mode does not let it pass and nothing
  // was reported yet), which counts as the one report.
  bool Add(Verdict bit) {
    verdict |= bit;
    if (reported || (mode & bit) != 0) {
      return false;
    }
    reported = true;
    return true;
  }
};

void JudgeInstalledVersion(const PackageInfo& p, Decision& decision) {
  const Package* installed = FindPackage(p.name);
  if (installed == nullptr) {
    return;
  }
  PackageDatabase& db = GetPackageDatabase();
  std::string name = DisplayName(p);
  int c = CompareVersions(p, *installed);
  if (c == 0 && decision.Add(kVerdictInstalled)) {
    ReportWarning(db, "omitting package %s: it is already installed", name.c_str());
  } else if (c > 0 && decision.Add(kVerdictUpgrade)) {
    ReportWarning(db, "omitting package %s: older package is already installed", name.c_str());
  } else if (c < 0 && decision.Add(kVerdictDowngrade)) {
    ReportWarning(db, "omitting package %s: newer package %s is already installed", name.c_str(),
                  DisplayName(*installed).c_str());
  }
}

void JudgeArchitecture(const PackageInfo& p, Decision& decision) {
  if (p.architecture.empty() || p.architecture == kSystemArchitecture) {
    return;
  }
  if (decision.Add(kVerdictUnusable)) {
    ReportError(GetPackageDatabase(), "can not install %s: it is not made for %s, but for %s",
                DisplayName(p).c_str(), kSystemArchitecture, p.architecture.c_str());
  }
}

// Only the first unmet dependency is looked at.
void JudgeDependencies(const PackageInfo& p, Decision& decision) {
  for (const Dependency& d : p.dependencies) {
    std::vector<Package*> candidates;
    FindCandidates(d, candidates, DisabledPackages::kSkip);
    if (!candidates.empty()) {
      continue;
    }
    if (decision.Add(kVerdictUnusable)) {
      ReportError(GetPackageDatabase(), "can not install %s: %s is not installed, but is required",
                  DisplayName(p).c_str(), DependencyText(d).c_str());
    }
    return;
  }
}

void JudgeConflicts(const PackageInfo& p, Decision& decision) {
  const Package* conflicting = FindConflicting(p);
  if (conflicting != nullptr && decision.Add(kVerdictConflicts)) {
    ReportError(GetPackageDatabase(), "can not install %s: it conflicts with %s",
                DisplayName(p).c_str(), DisplayName(*conflicting).c_str());
  }
}

}  // namespace

std::string DependencyText(const Dependency& d) {
  if (d.minVersion == 0) {
    return d.name;
  }
  return d.name + "-" + VersionText(d.minVersion);
}

Package* FindConflicting(const PackageInfo& p) {
  for (const auto& installed : GetPackageDatabase().Records()) {
    if (!installed->disabled && ConflictsWith(*installed, p)) {
      return installed.get();
    }
  }
  return nullptr;
}

Verdict DecideInstall(const PackageInfo& p, InstallMode mode) {
  Decision decision{mode};
  JudgeInstalledVersion(p, decision);
  JudgeArchitecture(p, decision);
  JudgeDependencies(p, decision);
  JudgeConflicts(p, decision);
  return decision.verdict;
}
