#pragma once

#include <string_view>

#include "packages/package.h"

// True when both names have the same length and the same bytes (no case folding).
bool NameEquals(std::string_view a, std::string_view b);

// True when p bears d's name and p's version lies within d's inclusive range (0 = no bound).
bool Satisfies(const PackageInfo& p, const Dependency& d);

// True when some entry of p's provides list overlaps d (the entry taken as the first range).
bool ProvidesMatch(const PackageInfo& p, const Dependency& d);

// True when a needs b: a dependency of a is met by b or by what b provides, also when a or b is a
// bundle and the need runs through one of its members.
bool DependsOn(const PackageInfo& a, const PackageInfo& b);

// True when a excludes or supersedes b, through a's conflicts, the priorities of provides entries
// or bundle members. Not symmetric: a's side is the one that wins.
bool ConflictsWith(const PackageInfo& a, const PackageInfo& b);

// True when p's own name or the name of one of its bundle members equals name.
bool BearsName(const PackageInfo& p, std::string_view name);

// +1 when a is newer than b, -1 when older, 0 when equal or unrelated. A bundle compares through
// its member of the other package's name, with the result oriented as (a, b) in both directions.
int CompareVersions(const PackageInfo& a, const PackageInfo& b);

// CompareVersions, negated when reverse is true.
int CompareVersionsDirected(const PackageInfo& a, const PackageInfo& b, bool reverse);
