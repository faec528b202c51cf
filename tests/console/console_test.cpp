#include "console/console.h"

#include <fcntl.h>
#include <termios.h>
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
      // 77 characters fill a line; one more goes to the next.
      {std::string(38, 'a') + " " + std::string(38, 'b'),
       std::string(38, 'a') + " " + std::string(38, 'b') + " \n"},
      {std::string(38, 'a') + " " + std::string(39, 'b'),
       std::string(38, 'a') + " \n" + std::string(39, 'b') + " \n"},
  };
  for (const auto& example : cases) {
    EXPECT_EQ(ScreenOf([&] { PrintWrapped(example.text.c_str()); }), example.screen)
        << example.text;
  }
}

// What a line of canonical input would show: "canonical", or "raw" when raw mode stayed.
const char* Mode() {
  termios attributes{};
  tcgetattr(0, &attributes);
  return (attributes.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO) ? "canonical" : "raw";
}

// A second EnterRawMode must not save the raw attributes over the real ones.
TEST(RawMode, RestoreBringsBackTheAttributesFromBeforeTheFirstEntry) {
  EXPECT_EQ(ScreenOf([] {
              ConsoleState state;
              EnterRawMode(state);
              EnterRawMode(state);
              printf("%s ", Mode());
              RestoreConsole(state);
              printf(" %s", Mode());
            }),
            "raw \033[?25h canonical");
}

TEST(PrintLine, CentresWhatFitsTheScreen) {
  std::string text(81, 'a');
  const struct {
    size_t count;
    LineAlignment alignment;
    std::string screen;
  } cases[] = {
      {3, LineAlignment::kCentred, std::string(38, ' ') + "aaa\n"},
      {4, LineAlignment::kCentred, std::string(38, ' ') + "aaaa\n"},
      {78, LineAlignment::kCentred, " " + std::string(78, 'a') + "\n"},
      {80, LineAlignment::kCentred, std::string(80, 'a') + "\n"},
      {81, LineAlignment::kCentred, text + "\n"},
      {3, LineAlignment::kLeft, "aaa\n"},
  };
  for (const auto& example : cases) {
    EXPECT_EQ(ScreenOf([&] { PrintLine(text.data(), example.count, example.alignment); }),
              example.screen)
        << example.count;
  }
}

TEST(SetAttributes, ResetsThenSetsEachAttributeOfTheMask) {
  EXPECT_EQ(ScreenOf([] {
              for (unsigned mask : {0u, 1u, 2u, 4u, 8u, 15u, 16u}) {
                SetAttributes(mask);
                putchar('|');
              }
            }),
            "\033[m|\033[m\033[4m|\033[m\033[7m|\033[m\033[5m|\033[m\033[1m|"
            "\033[m\033[4m\033[7m\033[5m\033[1m|\033[m|");
}

}  // namespace
