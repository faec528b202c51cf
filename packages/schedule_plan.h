#pragma once

#include <vector>

#include "packages/package.h"

// Turning the scheduled actions of the installed packages into a consistent plan: every package
// that will be enabled has its dependencies enabled, no two enabled packages conflict, bundles
// and their members agree, and some package stays enabled. Only from Verbosity::kChanges on are
// the warnings and errors here reported. Everything works on the process's package database.

// How much planning and carrying out the scheduled actions report.
enum class Verbosity {
  kSilent,      // nothing
  kChanges,     // the planning's warnings and errors, enabling and disabling
  kEverything,  // also uninstalling
};

// Settles every package's scheduledAction and hands out the packages to carry out: those to
// uninstall or disable in `removals`, those to enable in `enables`, each put in front of what the
// list held, dependents before the packages they depend on. When the plan would leave no package
// enabled, cancels every action instead and reports "can not uninstall or disable all packages".
void PlanSchedule(std::vector<Package*>& removals, std::vector<Package*>& enables,
                  Verbosity verbosity);

// Passes the action of every bundle record on to its members: disable (unless a member is being
// uninstalled), uninstall, and enable for the disabled members.
void PropagateBundleActions();

// Makes sure that what p needs will be enabled: its bundle record, then each dependency in order
// through EnsureProvider on the preferred candidate. Stops at a dependency without candidates.
void EnsureDependencies(Package& p, Verbosity verbosity);

// Disables the enabled packages that p, which will be enabled, conflicts with, and those that
// conflict with p when p is being enabled. When both are being enabled and the other declared the
// conflict, p's enable is cancelled with the warning "can not enable <p>: <other> conflicts with
// it".
void ResolveConflicts(Package& p, Verbosity verbosity);

// Brings each bundle record in line with its members: uninstalled when every member goes away,
// disabled when it is enabled and no member stays enabled, its enable cancelled likewise.
void SettleBundles();

// True when some package will be enabled after the plan.
bool AnyEnabledAfterPlan();
