#pragma once

#include "packages/package.h"
#include "packages/schedule_plan.h"

// Passes the action of every bundle record on to its members: disable (unless a member is being
// uninstalled), uninstall, and enable for the disabled members.
void PropagateBundleActions();

// Makes sure that what p needs will be enabled: its bundle record, then each dependency in order
// by enabling its preferred candidate. Stops at a dependency without candidates.
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
