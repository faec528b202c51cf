#include "flows/menu_screen.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "console/console.h"

namespace {

constexpr const char* kHelp =
    "Move around menu using 'p' and 'n' or arrow keys, select with 'spacebar'. Select all with "
    "'a', minimum with 'm'. Press 'i' to install locally or 'q' to cancel and reboot.";

constexpr unsigned kReverse = 2;
constexpr unsigned kBold = 8;
constexpr int kPositionRow = 6;
constexpr int kGridTop = 7;
constexpr int kDetailsTop = 21;
constexpr int kDetailsRows = 4;  // the details' name line and up to three description lines
constexpr int kColumnWidth = 26;
constexpr int kScreenWidth = 80;
constexpr size_t kWrapWidth = 77;
constexpr size_t kDescriptionLines = 3;
// What a row prints around the name: the leading blank, " [X] " and the trailing blank.
constexpr int kRowDecoration = 7;

void ClearRow(int row) {
  MoveTo(row, 0);
  fputs("\033[2K", stdout);
}

// The characters a row of grid column c may use before the next column begins. The terminal
// takes column 0 as column 1, so the first column is one narrower; the last reaches the edge.
size_t NameWidth(std::uint32_t column) {
  int first = column == 0 ? 1 : static_cast<int>(column) * kColumnWidth;
  int last = column == 2 ? kScreenWidth : static_cast<int>(column + 1) * kColumnWidth - 1;
  return static_cast<size_t>(last - first + 1 - kRowDecoration);
}

bool RowVisible(const PackageMenu& menu, std::uint32_t row) {
  return row >= menu.firstRow && row - menu.firstRow < kVisibleMenuRows;
}

void PrintCentredLines(const char* text) {
  std::string_view rest = text;
  for (size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
    PrintLine(rest.data(), end, LineAlignment::kCentred);
    rest.remove_prefix(end + 1);
  }
  PrintLine(rest.data(), rest.size(), LineAlignment::kCentred);
}

std::string DependencyLine(const PackageInfo& p) {
  std::string line = p.name + " (depends on ";
  for (size_t i = 0; i < p.dependencies.size(); ++i) {
    line += (i == 0 ? "" : ", ") + p.dependencies[i].name;
  }
  line += p.dependencies.empty() ? "nothing):" : "):";
  return FitToWidth(ScreenText(line, '?'), kScreenWidth);
}

// The lines in which the console's word wrap shows text, with words too long for a line split.
std::vector<std::string> WrapLines(std::string_view text) {
  std::vector<std::string> lines(1);
  size_t at = 0;
  for (;;) {
    at = text.find_first_not_of(' ', at);
    if (at == std::string_view::npos) {
      return lines;
    }
    size_t length = std::min(text.find(' ', at), text.size()) - at;
    length = std::min(length, kWrapWidth);
    if (lines.back().size() + length > kWrapWidth && !lines.back().empty()) {
      lines.emplace_back();
    }
    lines.back().append(text.substr(at, length)).push_back(' ');
    at += length;
  }
}

// The description on at most kDescriptionLines lines, so it never reaches row 25 and scrolls
// the screen; a longer one ends in '~'.
void PrintDescription(const std::string& description) {
  std::vector<std::string> lines = WrapLines(ScreenText(description, ' '));
  if (lines.size() > kDescriptionLines) {
    lines.resize(kDescriptionLines);
    lines.back().push_back('~');
  }
  for (const std::string& line : lines) {
    PrintLine(line.data(), line.size(), LineAlignment::kLeft);
  }
}

}  // namespace

void MoveTo(int row, int column) {
  printf("\033[%d;%dH", row, column);
}

std::string ScreenText(std::string_view text, char replacement) {
  std::string shown(text);
  for (char& c : shown) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte >= 127) {
      c = replacement;
    }
  }
  return shown;
}

std::string FitToWidth(std::string text, size_t width) {
  if (text.size() > width && width > 0) {
    text.resize(width);
    text.back() = '~';
  }
  return text;
}

void DrawMenuFrame() {
  fputs("\033[2J\033[H", stdout);
  fputs("\033[?25l", stdout);
  SetAttributes(kBold);
  PrintCentredLines(
      ("Welcome to " + std::string(kProductName) + " Router Software installation\n").c_str());
  SetAttributes(0);
  PrintWrapped(kHelp);
}

void DrawMenuRow(const PackageMenu& menu, std::uint32_t index) {
  if (menu.rowsPerColumn == 0) {
    return;  // the menu has not laid out its grid yet
  }
  std::uint32_t row = index % menu.rowsPerColumn;
  std::uint32_t column = index / menu.rowsPerColumn;
  if (!RowVisible(menu, row)) {
    return;
  }
  MoveTo(static_cast<int>(row - menu.firstRow) + kGridTop, static_cast<int>(column) * kColumnWidth);
  putchar(' ');
  if (index == menu.cursor) {
    SetAttributes(kReverse);
  }
  const SelectablePackage& p = *menu.packages[index];
  std::string name = FitToWidth(ScreenText(p.name, '?'), NameWidth(column));
  printf(" [%c] %s ", p.selected ? 'X' : ' ', name.c_str());
  if (index == menu.cursor) {
    SetAttributes(0);
  }
}

void DrawMenuGrid(const PackageMenu& menu) {
  if (menu.rowsPerColumn > kVisibleMenuRows) {
    ClearRow(kPositionRow);
    printf(" rows %u-%u of %u", menu.firstRow + 1, menu.firstRow + kVisibleMenuRows,
           menu.rowsPerColumn);
  }
  for (std::uint32_t row = 0; row < kVisibleMenuRows; ++row) {
    ClearRow(kGridTop + static_cast<int>(row));
  }
  for (std::uint32_t i = 0; i < menu.packages.size(); ++i) {
    DrawMenuRow(menu, i);
  }
}

bool ScrollToCursor(PackageMenu& menu) {
  std::uint32_t row = menu.cursor % menu.rowsPerColumn;
  std::uint32_t first = menu.firstRow;
  if (row < first) {
    first = row;
  } else if (row - first >= kVisibleMenuRows) {
    first = row - kVisibleMenuRows + 1;
  }
  bool moved = first != menu.firstRow;
  menu.firstRow = first;
  return moved;
}

void ShowPackageDetails(const PackageMenu& menu) {
  for (int row = kDetailsTop; row < kDetailsTop + kDetailsRows; ++row) {
    ClearRow(row);
  }
  MoveTo(kDetailsTop, 0);
  const SelectablePackage& p = *menu.packages[menu.cursor];
  puts(DependencyLine(p).c_str());
  PrintDescription(p.description);
}
