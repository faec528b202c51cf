#include "flows/package_menu.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/terminal.h"

namespace {

// Seven packages: 3 rows per column, "f" alone in the third column. a needs b, b needs c; d needs
// a package the medium lacks; e needs c only from version 9 on, which the medium's c is not.
struct SevenPackages {
  SevenPackages() {
    const char* table[][2] = {{"system", ""},   {"a", "b"}, {"b", "c"}, {"c", ""},
                              {"d", "missing"}, {"e", "c"}, {"f", ""}};
    for (const auto& [name, needs] : table) {
      auto& p = records.emplace_back(std::make_unique<SelectablePackage>());
      p->name = name;
      p->version = MakeVersion(1, 0, 'f', 0);
      if (*needs != '\0') {
        p->dependencies.push_back(Dependency{needs});
      }
      menu.packages.push_back(p.get());
    }
    records[5]->dependencies[0].minVersion = MakeVersion(9, 0, 'f', 0);
    menu.rowsPerColumn = 3;
  }
  // names: separated by blanks.
  void Mark(const std::string& names) {
    for (const auto& p : records) {
      p->selected = (" " + names + " ").find(" " + p->name + " ") != std::string::npos;
    }
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
      {"", 0, "system"},
      {"system", 4, "systemd"},     // a need the medium lacks is passed over
      {"system c", 2, "systembc"},  // b's need is marked already
      {"system a b", 1, "systemb"},
  };
  for (const auto& example : cases) {
    SevenPackages seven;
    seven.Mark(example.before);
    ToggleSelection(seven.menu, example.index);
    EXPECT_EQ(seven.Marks(), example.after) << example.before << " " << example.index;
  }
  SevenPackages seven;
  seven.Mark("system a b c d e f");
  testing::internal::CaptureStdout();
  SelectMinimum(seven.menu);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(" [ ] f "), std::string::npos);
  EXPECT_EQ(seven.Marks(), "system");
}

// What the menu returned after `keys`, where the cursor ended and what was marked, the records
// starting with the marks `initial`.
std::string AfterKeys(const std::string& keys, const char* initial = "") {
  Terminal terminal([&] {
    SevenPackages seven;
    seven.Mark(initial);
    bool install = RunPackageMenu(seven.menu);
    printf("\nresult %d %u %s.\n", install, seven.menu.cursor, seven.Marks().c_str());
    return 0;
  });
  // Raw mode flushes what was typed before it, so the keys wait for the first details.
  EXPECT_TRUE(terminal.Expect("(depends on"));
  terminal.Type(keys);
  terminal.Wait();
  const std::string& screen = terminal.Screen();
  size_t at = screen.rfind("result ");
  size_t end = screen.find('.', at);
  return end == std::string::npos ? screen : screen.substr(at + 7, end - at - 7);
}

TEST(RunPackageMenu, ActsOnEveryKeyOfItsTable) {
  const struct {
    const char* keys;
    const char* initial;
    const char* outcome;  // result, cursor, marks
  } cases[] = {
      {"q", "", "0 0 system"},
      {"Q", "a", "0 0 systema"},
      {"\033q", "", "0 0 system"},
      {"i", "", "1 0 system"},
      {"\033\033[BI", "", "1 1 system"},
      {"\033[C\033[Bi", "", "1 4 system"},
      {"\033[C\033[B\033[Ci", "", "1 4 system"},  // 4 + 3 is past the end
      {"\033[C\033[C\033[D\033[Di", "", "1 0 system"},
      {"\033[D\033[Ai", "", "1 0 system"},
      {"nNnNnNnNnpi", "", "1 5 system"},
      {"n i", "", "1 1 systemabc"},
      {" i", "", "1 0 system"},
      {"ai", "", "1 0 systemabcdef"},
      {"Ai", "", "1 0 systemabcdef"},
      {"\033OAi", "", "1 0 systemabcdef"},  // application cursor keys are not arrows
      {"\033[Mi", "a e", "1 0 systemae"},   // the third byte is consumed, not 'M'
      {"mi", "a e", "1 0 system"},
      {"Mi", "a e", "1 0 system"},
      {"xyz0\ri", "", "1 0 system"},
  };
  for (const auto& example : cases) {
    EXPECT_EQ(AfterKeys(example.keys, example.initial), example.outcome) << example.keys;
  }
}

TEST(RunPackageMenu, EndOfInputCancelsAndLeavesTheCursorBelow) {
  Terminal terminal([] {
    dup2(open("/dev/null", O_RDONLY), 0);
    SevenPackages seven;
    printf("result %d", RunPackageMenu(seven.menu));
    return 0;
  });
  terminal.Wait();
  EXPECT_NE(terminal.Screen().find("\033[25;0H\033[?25hresult 0"), std::string::npos)
      << terminal.Screen();
}

}  // namespace
