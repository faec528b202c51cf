#pragma once

#include <vector>

#include "packages/package.h"

// Carrying out the scheduled actions of the installed packages on the target tree. Verbosity 0
// is silent; 1 reports the warnings and errors of the planning and the enabling and disabling;
// 2 or more also the uninstalling. Everything works on the process's package database.

// Plans the scheduled actions (PlanSchedule), then uninstalls and disables, then enables. True
// when anything was to be done.
bool ApplySchedule(int verbosity);

// In list order: uninstalls each package scheduled for it ("uninstalling <name>..." on the
// status line, then "uninstalled <name>", from verbosity 2), taking its record out of the
// database and destroying it; disables every other one ("disabling <name>...", "disabled <name>",
// from verbosity 1). A record that is not in the database is left alone.
void PerformRemovals(const std::vector<Package*>& list, int verbosity);

// In list order: enables each package ("enabling <name>...", "enabled <name>", from verbosity 1).
void PerformEnables(const std::vector<Package*>& list, int verbosity);

// Carries out what is scheduled silently, then uninstalls every package made for systems older
// than 3.22: all but "brix", "disk-drivers", "system" and bundle records, unless a dependency of it
// asks for "system" at a minimum above 0x031665FF (3.22 final or later; its pre-releases do not
// count). The second round reports at verbosity 1.
void PurgeIncompatiblePackages();
