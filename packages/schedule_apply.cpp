#include "packages/schedule_apply.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "packages/database_remove.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "packages/relations.h"
#include "packages/reporter.h"
#include "packages/schedule_plan.h"

namespace {

// Packages from the last release line before 3.22 stop at this minimum of "system".
constexpr PackageVersion kLastIncompatibleSystem = 0x031665FF;

const char* const keptByPurge[] = {"brix", "disk-drivers", "system"};

// Lists are checked against the database before they are followed, so that a stale entry, such
// as a package listed twice and already uninstalled, is acted on once.
bool InDatabase(const Package* p) {
  return GetPackageDatabase().Contains(p);
}

void Uninstall(Package& p, Verbosity verbosity) {
  PackageDatabase& db = GetPackageDatabase();
  std::string name = DisplayName(p);
  if (verbosity >= Verbosity::kEverything) {
    ShowStatus(db, "uninstalling " + name + "...");
  }
  RemovePackage(p);
  db.Retire(&p);
  if (verbosity >= Verbosity::kEverything) {
    ReportInfo(db, "uninstalled %s", name.c_str());
  }
}

void Disable(Package& p, Verbosity verbosity) {
  PackageDatabase& db = GetPackageDatabase();
  if (verbosity >= Verbosity::kChanges) {
    ShowStatus(db, "disabling " + DisplayName(p) + "...");
  }
  WriteDisabledState(p);
  if (verbosity >= Verbosity::kChanges) {
    ReportInfo(db, "disabled %s", DisplayName(p).c_str());
  }
}

// True when p declares that it runs on "system" 3.22 or later.
bool NeedsNewSystem(const Package& p) {
  return std::any_of(p.dependencies.begin(), p.dependencies.end(), [](const Dependency& d) {
    return NameEquals(d.name, "system") && d.minVersion > kLastIncompatibleSystem;
  });
}

bool KeptByPurge(const Package& p) {
  return p.noFileList || std::any_of(std::begin(keptByPurge), std::end(keptByPurge),
                                     [&p](const char* name) { return NameEquals(p.name, name); });
}

}  // namespace

bool ApplySchedule(Verbosity verbosity) {
  DatabaseOperation operation;
  std::vector<Package*> removals;
  std::vector<Package*> enables;
  PlanSchedule(removals, enables, verbosity);
  PerformRemovals(removals, verbosity);
  PerformEnables(enables, verbosity);
  return !removals.empty() || !enables.empty();
}

void PerformRemovals(const std::vector<Package*>& list, Verbosity verbosity) {
  DatabaseOperation operation;
  for (Package* p : list) {
    if (!InDatabase(p)) {
      continue;
    }
    if (p->scheduledAction == kScheduleUninstall) {
      Uninstall(*p, verbosity);
    } else {
      Disable(*p, verbosity);
    }
  }
}

void PerformEnables(const std::vector<Package*>& list, Verbosity verbosity) {
  PackageDatabase& db = GetPackageDatabase();
  for (Package* p : list) {
    if (!InDatabase(p)) {
      continue;
    }
    if (verbosity >= Verbosity::kChanges) {
      ShowStatus(db, "enabling " + DisplayName(*p) + "...");
    }
    WriteEnabledState(*p);
    if (verbosity >= Verbosity::kChanges) {
      ReportInfo(db, "enabled %s", DisplayName(*p).c_str());
    }
  }
}

void PurgeIncompatiblePackages() {
  DatabaseOperation operation;
  ApplySchedule(Verbosity::kSilent);
  for (const auto& p : GetPackageDatabase().Records()) {
    if (!KeptByPurge(*p) && !NeedsNewSystem(*p)) {
      p->scheduledAction = kScheduleUninstall;
    }
  }
  ApplySchedule(Verbosity::kChanges);
}
