#pragma once

#include <memory>
#include <string>
#include <vector>

#include "packages/package.h"

// Finding the package files of an installation medium and turning the user's marks into an
// installation order.

// The package files of a medium, in menu order; the flow owns them until it ends.
using PackageList = std::vector<std::unique_ptr<SelectablePackage>>;

// Where the CD-ROM and hard-disk flows mount their medium.
inline constexpr const char* kMediumDirectory = "/floppy";

// The names that lead the menu, in this order, whatever their place by name.
inline constexpr const char* menuPriorityNames[] = {"system", "ppp", "dhcp"};

// Fills the empty list with the headers of every "*.vpk" file in directory, sorted by name byte by
// byte with the priority names moved to the front, and marks what the medium's "defpacks" names.
// False after "FATAL ERROR: No packages found" (no directory, no package file) or "FATAL ERROR:
// Bad package NAME-VERSION" (the first unreadable file, which stays in the list with those before).
bool ReadPackageFiles(PackageList& list, const std::string& directory = kMediumDirectory);

// Marks the packages that the text file path names, one whitespace-separated word each, and
// "system"; words longer than 91 bytes and names not in the list are skipped. What the marked
// packages need is left to the package menu, which adds it when it starts. False, marking
// nothing, when path is no readable regular file.
bool ReadDefaultSelection(const PackageList& list, const std::string& path);

// Replaces order's content with the marked packages of list, without those that others supersede
// (each omission reported) and with every package after the ones it needs.
void OrderSelectedPackages(const PackageList& list, std::vector<SelectablePackage*>& order);
