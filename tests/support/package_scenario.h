#pragma once

// Databases described as text for tests of dependency resolution, and text forms of its results.

#include <string>
#include <vector>

#include "packages/package.h"
#include "tests/support/package_tree.h"

// Adds one package per non-empty line of text to the database: "name version word...", the
// version as ParseVersion reads it. Words:
//   disabled | forced              the state flags
//   bundle                         a bundle record (no file list)
//   in:B  in:B=V                   member of bundle B (of version V)
//   dep:D  conf:D  prov:D  prov:D/P  a dependency, conflict or provides entry (priority P); D as
//                                  ParseDependency reads it
//   do:uninstall|enable|disable    the scheduled action
//   has:M=V                        a bundle's member M of version V
// A line that cannot be read fails the test.
void AddScenarioPackages(const std::string& text);

// AddScenarioPackages, then each package owns "/bin/<name>" in the tree and has its database entry
// with its state files.
void InstallScenarioPackages(const PackageTree& tree, const std::string& text);

// The scheduled actions in database order, "name:word" for each package that has one, joined by
// blanks.
std::string ScheduledActions();

// The names of list, joined by blanks.
std::string Names(const std::vector<Package*>& list);

// The database's packages in order.
std::vector<Package*> AllPackages();

// "name-version" of each of list, joined by blanks.
std::string DisplayNames(const std::vector<Package*>& list);

// The database's message log, one line each, joined by "\n".
std::string LogText();
