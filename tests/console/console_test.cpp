#include "console/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/terminal.h"

namespace {

// The screen a body leaves on the terminal when `keys` are typed at its question, with the
// terminal's line ends made plain again.
std::string ScreenOf(const std::function<void()>& body, const char* keys = "") {
  Terminal terminal([&] {
    body();
    return 0;
  });
  if (*keys != '\0') {
    EXPECT_TRUE(terminal.Expect("[y/n]:")) << terminal.Screen();
    terminal.Type(keys);
  }
  terminal.Wait();
  std::string screen = terminal.Screen();
  for (size_t at = screen.find("\r\n"); at != std::string::npos; at = screen.find("\r\n", at)) {
    screen.erase(at, 1);
  }
  return screen;
}

TEST(AskYesNo, TakesOnlyYOrNAtOnceAndRingsAtAnythingElse) {
  auto ask = [] {
    ConsoleState state;
    EnterRawMode(state);
    fputs(AskYesNo("Continue?") ? " yes" : " no", stdout);
  };
  EXPECT_EQ(ScreenOf(ask, "y"), "Continue? [y/n]:y\n yes");
  EXPECT_EQ(ScreenOf(ask, "Y"), "Continue? [y/n]:y\n yes");
  // A digit, ENTER, an arrow key and another letter each ring the bell.
  EXPECT_EQ(ScreenOf(ask, "1\r\033[AxN"), "Continue? [y/n]:\a\a\a\a\a\an\n no");
  // A closed console never confirms anything, nor rings on.
  EXPECT_EQ(ScreenOf([&] {
              dup2(open("/dev/null", O_RDONLY), 0);
              ask();
            }),
            "Continue? [y/n]: no");
}

std::string Repeat(int count, const std::string& text) {
  std::string result;
  for (int i = 0; i < count; ++i) {
    result += text;
  }
  return result;
}

TEST(PrintWrapped, FillsLinesOfAtMost77CharactersEachEndingInABlank) {
  const struct {
    std::string text;
    std::string screen;
  } cases[] = {
      {Repeat(10, "abcde \n  abcde "), Repeat(13, "abcde ") + "\n" + Repeat(7, "abcde ") + "\n"},
      {"", "\n"},
      {"one  two\n\nthree", "one two three \n"},
      // A word longer than a line stands alone and whole, with no empty line before it.
      {"a " + std::string(90, 'w') + " b", "a \n" + std::string(90, 'w') + " \nb \n"},
      {std::string(78, 'w'), std::string(78, 'w') + " \n"},
  };
  for (const auto& example : cases) {
    EXPECT_EQ(ScreenOf([&] { PrintWrapped(example.text.c_str()); }), example.screen)
        << example.text;
  }
}

}  // namespace
