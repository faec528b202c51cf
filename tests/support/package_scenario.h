#pragma once

// Databases described as text for tests of dependency resolution, and text forms of its results.

#include <string>
#include <vector>

#include "packages/package.h"

// Adds one package per non-empty line of text to the database: "name version word...", the
// version as ParseVersion reads it. Words:
//   disabled | forced              the state flags
//   bundle                         a bundle record (no file list)
//   in:B  in:B=V                   member of bundle B (of version V)
//   dep:D  conf:D  prov:D  prov:D/P  a dependency, conflict or provides entry (priority P); D as
//                                  ParseDependency reads it
//   do:uninstall|enable|disable    the scheduled action
// A line that cannot be read fails the test.
void AddScenarioPackages(const std::string& text);

// The scheduled actions in database order, "name:word" for each package that has one, joined by
// blanks.
std::string ScheduledActions();

// The names of list, joined by blanks.
std::string Names(const std::vector<Package*>& list);

// The database's packages in order.
std::vector<Package*> AllPackages();

// "name-version" of each of list, joined by blanks.
std::string DisplayNames(const std::vector<Package*>& list);

// The names of the database's packages in order, joined by blanks.
std::string DatabaseNames();

// The database's message log, one line each, joined by "\n".
std::string LogText();
