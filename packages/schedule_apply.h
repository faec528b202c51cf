#pragma once

#include <vector>

#include "packages/package.h"
#include "packages/schedule_plan.h"

// Carrying out the scheduled actions of the installed packages on the target tree, reporting as
// Verbosity (schedule_plan.h) says. Everything works on the process's package database.

// Plans the scheduled actions (PlanSchedule), then uninstalls and disables, then enables. True
// when anything was to be done.
bool ApplySchedule(Verbosity verbosity);

// In list order: uninstalls each package scheduled for it ("uninstalling <name>..." on the
// status line, then "uninstalled <name>", from Verbosity::kEverything), taking its record out of
// the database and destroying it; disables every other one ("disabling <name>...", "disabled
// <name>", from Verbosity::kChanges). A record that is not in the database is left alone.
void PerformRemovals(const std::vector<Package*>& list, Verbosity verbosity);

// In list order: enables each package ("enabling <name>...", "enabled <name>", from
// Verbosity::kChanges).
void PerformEnables(const std::vector<Package*>& list, Verbosity verbosity);

// Carries out what is scheduled silently, then uninstalls every package made for systems older
// than 3.22: all but "brix", "disk-drivers", "system" and bundle records, unless a dependency of it
// asks for "system" at a minimum above 0x031665FF (3.22 final or later; its pre-releases do not
// count). The second round reports at Verbosity::kChanges.
void PurgeIncompatiblePackages();
