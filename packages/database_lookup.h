#pragma once

#include <memory>
#include <string_view>

#include "packages/package.h"

// Finding, adding and listing the records of the process's package database. The sequence order
// (insertion order) decides every first match.

// The index of the first package whose name equals name byte for byte, or -1.
int FindPackageIndex(std::string_view name);

// The first package whose name equals name, or null.
Package* FindPackage(std::string_view name);

// The best package bearing or providing name (a provides entry of any version range): the first
// such package that is enabled, else the last disabled one, else null.
Package* FindProvider(std::string_view name);

// Appends p to the database, which owns it from then on; returns the appended record.
Package& AddPackage(std::unique_ptr<Package> p);

// Destroys every record and empties the sequence.
void DeleteAllPackages();

// Writes the table of installed packages to standard output: a header, a rule of 60 "-", and per
// package its name, "X " when disabled, its version and its build time (UTC), right-aligned in
// columns of 16, 15 and 25.
void PrintPackageTable();
