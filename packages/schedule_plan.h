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
