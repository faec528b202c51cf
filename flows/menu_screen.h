#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "flows/package_menu.h"

// The drawing of the package menu: the fixed texts, the rows, the grid window, the details and the
// fitting of medium-supplied texts into the screen. Used by the menu's own files.

// Moves the cursor to the row and column of the terminal's cursor-position sequence.
void MoveTo(int row, int column);

// Clears the screen, hides the cursor and prints the bold centred title and the help text.
void DrawMenuFrame();

// Clears the rows of the grid window and draws every package in it, with the window's position
// on row 6 when the list is longer than the window.
void DrawMenuGrid(const PackageMenu& menu);

// Draws the package's row of the grid, highlighted when it is under the cursor; nothing when its
// row lies outside the window.
void DrawMenuRow(const PackageMenu& menu, std::uint32_t index);

// Shows the name, the dependencies and the description of the package under the cursor on rows
// 21 to 24.
void ShowPackageDetails(const PackageMenu& menu);

// Moves the window the least that brings the cursor's row into view; true when it moved.
bool ScrollToCursor(PackageMenu& menu);

// The text with every byte that a terminal would not show as one character (control bytes, bytes
// of 127 and above) replaced by `replacement`, so a name from a medium cannot move the cursor.
std::string ScreenText(std::string_view text, char replacement);

// The text cut to width characters, its last one replaced by '~' when anything was cut.
std::string FitToWidth(std::string text, size_t width);
