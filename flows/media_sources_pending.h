#pragma once

// TEMPORARY: stands in for the package sources and the package menu until their own files
// (flows/package_sources.h, flows/package_menu.h) replace this header and its .cpp. The
// declarations are the ones those files provide.

#include <cstdint>
#include <vector>

#include "packages/package.h"

// The package menu's state, owned by the calling flow; `packages` is never empty when it runs.
struct PackageMenu {
  std::vector<SelectablePackage*> packages;
  std::uint32_t cursor = 0;
  std::uint32_t rowsPerColumn = 0;
};

// Fills the empty list with the package files in the root of "/floppy" (".vpk" names), sorted
// by name with "system", "ppp", "dhcp" first. False after "FATAL ERROR: No packages found" or
// "FATAL ERROR: Bad package NAME"; the records read so far stay in the list.
bool ReadPackageFiles(std::vector<SelectablePackage*>& packages);

// Replaces `order` with the selected packages of the list in installation order; the records
// stay owned by the list.
void OrderSelectedPackages(const std::vector<SelectablePackage*>& packages,
                           std::vector<SelectablePackage*>& order);

// Lets the user choose packages; true when the user chose to install, false when cancelled.
bool RunPackageMenu(PackageMenu& menu);
