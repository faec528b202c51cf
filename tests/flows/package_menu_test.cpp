#include "flows/package_menu.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/terminal.h"

namespace {

// Seven packages: 3 rows per column, "f" alone in the third column. a needs b, b needs c; d needs
// a package the medium lacks; e needs c only from version 9 on, which the medium's c is not.
// marked: the names to mark, separated by blanks.
struct SevenPackages {
  explicit SevenPackages(const std::string& marked) {
    const char* table[][2] = {{"system", ""},   {"a", "b"}, {"b", "c"}, {"c", ""},
                              {"d", "missing"}, {"e", "c"}, {"f", ""}};
    for (const auto& [name, needs] : table) {
      auto& p = records.emplace_back(std::make_unique<SelectablePackage>());
      p->name = name;
      p->version = MakeVersion(1, 0, 'f', 0);
      if (*needs != '\0') {
        p->dependencies.push_back(Dependency{needs});
      }
      p->selected = (" " + marked + " ").find(" " + p->name + " ") != std::string::npos;
      menu.packages.push_back(p.get());
    }
    records[5]->dependencies[0].minVersion = MakeVersion(9, 0, 'f', 0);
    menu.rowsPerColumn = 3;
  }
  std::string Marks() const {
    std::string marks;
    for (const auto& p : records) {
      marks += p->selected ? p->name : "";
    }
    return marks;
  }
  std::vector<std::unique_ptr<SelectablePackage>> records;
  PackageMenu menu;
};

TEST(ToggleSelection, SelectsWhatIsNeededAndDeselectsWhatDirectlyNeedsIt) {
  const struct {
    const char* before;
    std::uint32_t index;
    const char* after;
  } cases[] = {
      {"system", 1, "systemabc"},               // a pulls in b, and b pulls in c
      {"system a b c d e f", 3, "systemadef"},  // c takes b along, not a; e needs a c of 9 or later
      {"system a b c d e f", 0, "systemabcdef"},  // "system" stays
      {"system", 4, "systemd"},                   // a need the medium lacks is passed over
      {"system c", 2, "systembc"},                // b's need is marked already
  };
  for (const auto& example : cases) {
    SevenPackages seven(example.before);
    ToggleSelection(seven.menu, example.index);
    EXPECT_EQ(seven.Marks(), example.after) << example.before << " " << example.index;
  }
  SevenPackages seven("system a b c d e f");
  testing::internal::CaptureStdout();
  SelectMinimum(seven.menu);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(" [ ] f "), std::string::npos);
}

// What the menu returned after `keys`, where the cursor ended and what was marked, the records
// starting with the marks `initial`; the menu leaves the cursor on the last row, shown again.
// With `thenEnd` the keys come from a pipe that ends after them instead of from the keyboard.
std::string AfterKeys(const std::string& keys, const char* initial, bool thenEnd) {
  Terminal terminal([&] {
    int input[2];
    if (thenEnd && (pipe(input) != 0 || write(input[1], keys.data(), keys.size()) < 0 ||
                    close(input[1]) != 0 || dup2(input[0], 0) != 0)) {
      return 1;
    }
    SevenPackages seven(initial);
    bool install = RunPackageMenu(seven.menu);
    printf("\nresult %d %u %s.\n", install, seven.menu.cursor, seven.Marks().c_str());
    return 0;
  });
  // Raw mode flushes what was typed before it, so the keys wait for the first details.
  EXPECT_TRUE(terminal.Expect("(depends on"));
  if (!thenEnd) {
    terminal.Type(keys);
  }
  terminal.Wait();
  const std::string& screen = terminal.Screen();
  const std::string left = "\033[25;0H\033[?25h\r\nresult ";
  size_t at = screen.rfind(left);
  size_t end = screen.find('.', at);
  return end == std::string::npos ? screen
                                  : screen.substr(at + left.size(), end - at - left.size());
}

TEST(RunPackageMenu, ActsOnEveryKeyOfItsTable) {
  const struct {
    const char* keys;
    const char* initial;
    const char* outcome;  // result, cursor, marks
    bool thenEnd = false;
  } cases[] = {
      {"q", "", "0 0 system"},
      {"\033\033[BI", "", "1 1 system"},
      {"\033[C\033[B\033[Ci", "", "1 4 system"},                    // 4 + 3 is past the end
      {"\033[D\033[A\033[C\033[C\033[D\033[Di", "", "1 0 system"},  // 0 stays, then 3, 6, 3, 0
      {"\033OB\033OC\033OAi", "", "1 3 system"},                    // application cursor keys
      {"nNnNnNnNnpi", "", "1 5 system"},
      {"n i", "", "1 1 systemabc"},
      {"ai", "", "1 0 systemabcdef"},
      {"n\033q", "", "0 1 system"},  // ESC and a letter is that letter
      // Function keys used to leak their last bytes as keys: F2 (ESC O Q) cancelled, F1 (ESC O P)
      // moved, the console's F1 (ESC [ [ A) selected everything. Modified keys and an ESC that
      // cuts a sequence short act on nothing either.
      {"n\033OP\033OQ\033[15~\033[1;5A\033[\033[[Ai", "", "1 1 system"},
      {"n\033[[A\033[[E\033[[\033[[Pi", "", "1 1 system"},
      {"\033[Mi", "e", "1 0 systemce"},  // the third byte is consumed, not 'M'
      {"Mi", "e", "1 0 system"},
      {"xyz0\ri", "", "1 0 system"},
      {"n\033[1;", "", "0 1 system", true},  // the end of input inside a sequence
      {"n\033[[", "", "0 1 system", true},
      {"\033O", "", "0 0 system", true},
      // The medium's defaults bring what they need, as marking them by hand would: a needs b
      // and b needs c; a default's need that is a default too still brings its own.
      {"q", "a", "0 0 systemabc"},
      {"q", "b a", "0 0 systemabc"},
  };
  for (const auto& example : cases) {
    EXPECT_EQ(AfterKeys(example.keys, example.initial, example.thenEnd), example.outcome)
        << example.keys;
  }
}

}  // namespace
