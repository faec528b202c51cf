#pragma once

#include <cstdint>
#include <vector>

#include "flows/package_sources.h"
#include "packages/package.h"

// The full-screen menu in which the user marks the package files of a medium for installation.

// Grid rows that fit between the help text and the details: 3 columns of 14 rows hold 42
// packages; a longer list scrolls through a window of that many rows.
inline constexpr std::uint32_t kVisibleMenuRows = 14;

struct PackageMenu {
  std::vector<SelectablePackage*> packages;  // menu order; never empty while the menu runs
  std::uint32_t cursor = 0;                  // index of the highlighted package
  std::uint32_t rowsPerColumn = 0;           // packages per column, set when the menu starts
  std::uint32_t firstRow = 0;                // the grid row shown at the top of the window
};

// A menu over the packages of list, in list order, with the cursor on the first.
PackageMenu MakePackageMenu(const PackageList& list);

// Shows the menu and acts on keys until the user chooses: true for 'i' (install), false for 'q'
// (cancel) or the end of input. It starts from the records' marks (the medium's defaults) with
// "system" added and everything the marked packages need, as marking each by hand would; with no
// mark set it starts from the minimum. Escape sequences are read whole, and those other than the
// cursor keys do nothing; Ctrl-L draws the whole screen again. Raw mode on a console state of its
// own is undone before it returns; the cursor is left on row 25.
bool RunPackageMenu(PackageMenu& menu);

// The space bar: marks an unmarked package with everything it needs by name, transitively;
// unmarks a marked one with the packages that directly depend on it. "system" stays marked.
void ToggleSelection(PackageMenu& menu, std::uint32_t index);

// Marks exactly the package named "system" and redraws every row.
void SelectMinimum(PackageMenu& menu);
