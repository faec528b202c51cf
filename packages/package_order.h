#pragma once

#include <vector>

#include "packages/package.h"
#include "packages/version.h"

// Looking up the installed packages that can meet a dependency, judging whether one of them will
// be there after the scheduled actions are carried out, and putting a list of packages in the
// order in which they can be installed. All of it works on the process's package database.

// What the scheduled actions leave of the packages able to meet one dependency.
enum CandidateState {
  kCandidateEnabled = 0,  // some candidate will be enabled
  kCandidateMissing = 1,  // no candidate at all, or every candidate is being uninstalled
  kCandidateDormant = 3,  // none will be enabled, but a disabled one stays installed
};

// True when p will be enabled once its scheduled action is carried out: it is being enabled, or
// it is enabled and nothing is scheduled for it.
bool WillBeEnabled(const Package& p);

// Appends, in database order, every package that satisfies d by name and version or by one of its
// provides entries; disabled packages only when asked for.
enum class DisabledPackages { kSkip, kInclude };
void FindCandidates(const Dependency& d, std::vector<Package*>& out, DisabledPackages disabled);

// The state of a candidate list, examined in order: kCandidateEnabled as soon as one candidate
// will be enabled, else kCandidateDormant when one stays installed (disabled, or enabled and being
// disabled), else kCandidateMissing.
CandidateState ClassifyCandidates(const std::vector<Package*>& list);

// How OrderPackages chooses between two packages of one name, and whether it says so.
struct OrderOptions {
  bool downgrade = false;  // the older one stays
  bool announce = false;   // a dropped package is announced
};

// Filters list and puts it in installation order. A package is dropped when another remaining
// package of the list bears its name (or it bears the other's) and is newer (older with
// downgrade), or equal unless the dropped one would be a bundle preferred over a plain package;
// with announce, a newer (older) one warns "omitting package <name>: newer (older) package is
// already provided". The survivors are placed after the packages they depend on and after the
// packages that conflict with them.
void OrderPackages(std::vector<Package*>& list, OrderOptions options);

// OrderPackages for package files: the files of the list without those that others supersede,
// each after what it needs. The files themselves are not changed.
std::vector<SelectablePackage*> OrderPackageFiles(const std::vector<SelectablePackage*>& files,
                                                  OrderOptions options);
