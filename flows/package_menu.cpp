#include "flows/package_menu.h"

#include <cstdio>
#include <string>
#include <vector>

#include "console/console.h"
#include "flows/menu_screen.h"
#include "packages/relations.h"

namespace {

constexpr int kEscape = 27;
constexpr int kRedraw = 12;  // Ctrl-L
constexpr int kSpace = 32;
constexpr int kCaseBit = 32;
constexpr int kLastRow = 25;
// The parameter and intermediate bytes of a control sequence; the byte after them ends it.
constexpr int kFirstParameterByte = 0x20;
constexpr int kLastParameterByte = 0x3F;

// Keys beyond the byte range, for the cursor keys.
enum MenuKey {
  kEndOfInput = -1,
  kNoKey = 256,  // an escape sequence that means nothing here
  kUp,
  kDown,
  kRight,
  kLeft,
};

// What a key asks of the menu loop.
enum KeyOutcome { kStay, kShowDetails, kInstall, kCancel };

int ReadMenuByte() {
  fflush(stdout);
  return ReadConsoleByte();
}

bool IsParameterByte(int byte) {
  return byte >= kFirstParameterByte && byte <= kLastParameterByte;
}

int CursorKey(int finalByte) {
  switch (finalByte) {
    case 'A':
      return kUp;
    case 'B':
      return kDown;
    case 'C':
      return kRight;
    case 'D':
      return kLeft;
    default:
      return kNoKey;
  }
}

// The rest of a sequence after ESC '[' or ESC 'O', read whole so that no byte of a function key
// reaches the menu as a key of its own. The cursor keys come as ESC '[' or ESC 'O' (application
// cursor mode) and one of 'A' to 'D'; with parameters they are modified keys, which the menu does
// not know. The Linux console sends its F1 to F5 as ESC '[' '[' and one byte. kEscape when an ESC
// cuts the sequence short, as line noise may: that ESC starts the next sequence.
int ReadEscapeSequence(bool controlSequence) {
  int byte = ReadMenuByte();
  if (controlSequence && byte == '[') {
    byte = ReadMenuByte();
    return byte == kEndOfInput || byte == kEscape ? byte : kNoKey;
  }
  bool plain = !IsParameterByte(byte);
  while (IsParameterByte(byte)) {
    byte = ReadMenuByte();
  }
  if (byte == kEndOfInput || byte == kEscape) {
    return byte;
  }
  return plain ? CursorKey(byte) : kNoKey;
}

// The next key. After ESC and a byte other than '[' and 'O' the ESC is dropped and that byte is
// read as a key of its own (another ESC starts over).
int ReadMenuKey() {
  int byte = ReadMenuByte();
  while (byte == kEscape) {
    byte = ReadMenuByte();
    if (byte == '[' || byte == 'O') {
      byte = ReadEscapeSequence(byte == '[');
    }
  }
  return byte;
}

void RedrawAllRows(const PackageMenu& menu) {
  for (std::uint32_t i = 0; i < menu.packages.size(); ++i) {
    DrawMenuRow(menu, i);
  }
}

// Puts the cursor on target, redrawing what changed: the two rows, or the whole grid when the
// window has to scroll to it.
KeyOutcome MoveCursor(PackageMenu& menu, std::uint32_t target) {
  std::uint32_t old = menu.cursor;
  menu.cursor = target;
  if (ScrollToCursor(menu)) {
    DrawMenuGrid(menu);
  } else {
    DrawMenuRow(menu, old);
    DrawMenuRow(menu, target);
  }
  return kShowDetails;
}

KeyOutcome MoveByKey(PackageMenu& menu, int key) {
  std::uint32_t count = static_cast<std::uint32_t>(menu.packages.size());
  std::uint32_t cursor = menu.cursor;
  std::uint32_t step = menu.rowsPerColumn;
  if (key == kUp && cursor > 0) {
    return MoveCursor(menu, cursor - 1);
  }
  if (key == kDown && cursor + 1 < count) {
    return MoveCursor(menu, cursor + 1);
  }
  if (key == kRight && cursor + step < count) {
    return MoveCursor(menu, cursor + step);
  }
  if (key == kLeft && cursor >= step) {
    return MoveCursor(menu, cursor - step);
  }
  return kStay;
}

// Letters count in either case; cursor keys and the space are taken as they are.
KeyOutcome HandleKey(PackageMenu& menu, int key) {
  if (key == kEndOfInput) {
    return kCancel;
  }
  if (key == kSpace) {
    ToggleSelection(menu, menu.cursor);
    RedrawAllRows(menu);
    return kStay;
  }
  if (key == kRedraw) {
    // A serial line's noise can leave anything on the screen; the whole screen is drawn anew.
    DrawMenuFrame();
    DrawMenuGrid(menu);
    return kShowDetails;
  }
  int letter = key < kNoKey ? key & ~kCaseBit : key;
  switch (letter) {
    case 'P':
      return MoveByKey(menu, kUp);
    case 'N':
      return MoveByKey(menu, kDown);
    case 'A':
      for (SelectablePackage* p : menu.packages) {
        p->selected = true;
      }
      RedrawAllRows(menu);
      return kStay;
    case 'M':
      SelectMinimum(menu);
      return kStay;
    case 'I':
      return kInstall;
    case 'Q':
      return kCancel;
    default:
      return MoveByKey(menu, letter);
  }
}

// The first package of that name, or null when the medium has none.
SelectablePackage* FindByName(const PackageMenu& menu, const std::string& name) {
  for (SelectablePackage* p : menu.packages) {
    if (NameEquals(p->name, name)) {
      return p;
    }
  }
  return nullptr;
}

// Marks, depth first, what p needs by name and is not marked yet, with what that needs in turn.
void MarkNeeds(const PackageMenu& menu, const SelectablePackage& p) {
  for (const Dependency& needed : p.dependencies) {
    SelectablePackage* found = FindByName(menu, needed.name);
    if (found != nullptr && !found->selected) {
      found->selected = true;
      MarkNeeds(menu, *found);
    }
  }
}

// "system" and the medium's defaults with everything they need, as if each had been marked by
// hand; a default's need that is itself a default gets its own needs from its own turn.
void MarkStartingSelection(PackageMenu& menu) {
  std::vector<SelectablePackage*> marked;
  for (SelectablePackage* p : menu.packages) {
    p->selected = p->selected || NameEquals(p->name, "system");
    if (p->selected) {
      marked.push_back(p);
    }
  }
  for (SelectablePackage* p : marked) {
    MarkNeeds(menu, *p);
  }
}

}  // namespace

PackageMenu MakePackageMenu(const PackageList& list) {
  PackageMenu menu;
  for (const auto& p : list) {
    menu.packages.push_back(p.get());
  }
  return menu;
}

bool RunPackageMenu(PackageMenu& menu) {
  std::uint32_t count = static_cast<std::uint32_t>(menu.packages.size());
  if (count == 0) {
    return false;  // nothing to choose from; the flows never get here
  }
  menu.rowsPerColumn = (count + 2) / 3;
  menu.firstRow = 0;
  ConsoleState menuConsole;
  EnterRawMode(menuConsole);
  DrawMenuFrame();
  MarkStartingSelection(menu);
  ScrollToCursor(menu);
  DrawMenuGrid(menu);
  KeyOutcome outcome = kShowDetails;
  while (outcome == kShowDetails) {
    ShowPackageDetails(menu);
    do {
      outcome = HandleKey(menu, ReadMenuKey());
    } while (outcome == kStay);
  }
  MoveTo(kLastRow, 0);
  RestoreConsole(menuConsole);
  fflush(stdout);
  return outcome == kInstall;
}

void ToggleSelection(PackageMenu& menu, std::uint32_t index) {
  SelectablePackage& p = *menu.packages[index];
  if (!p.selected) {
    p.selected = true;
    MarkNeeds(menu, p);
    return;
  }
  if (NameEquals(p.name, "system")) {
    return;
  }
  p.selected = false;
  for (SelectablePackage* q : menu.packages) {
    if (DependsOn(*q, p)) {
      q->selected = false;
    }
  }
}

void SelectMinimum(PackageMenu& menu) {
  for (SelectablePackage* p : menu.packages) {
    p->selected = NameEquals(p->name, "system");
  }
  RedrawAllRows(menu);
}
