#include "console/console.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "startup/state.h"
#include "tests/support/terminal.h"

namespace {

// The screen a body leaves on the terminal, with the terminal's line ends made plain again.
std::string ScreenOf(const std::function<int()>& body) {
  Terminal terminal(body);
  terminal.Wait();
  std::string screen = terminal.Screen();
  for (size_t at = screen.find("\r\n"); at != std::string::npos; at = screen.find("\r\n", at)) {
    screen.erase(at, 1);
  }
  return screen;
}

struct AnswerCase {
  const char* keys;
  bool yes;
  const char* screen;  // after the question
};

void PrintTo(const AnswerCase& example, std::ostream* out) {
  *out << testing::PrintToString(example.keys);
}

class AskYesNoTest : public testing::TestWithParam<AnswerCase> {};

TEST_P(AskYesNoTest, TakesOnlyYOrNAtOnceAndRingsAtAnythingElse) {
  const AnswerCase& answer = GetParam();
  Terminal terminal([] {
    ConsoleState state;
    EnterRawMode(state);
    bool yes = AskYesNo("Continue?");
    fflush(stdout);
    return yes ? 1 : 0;
  });
  ASSERT_TRUE(terminal.Expect("Continue? [y/n]:")) << terminal.Screen();
  terminal.Type(answer.keys);
  int status = terminal.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status) == 1, answer.yes);
  EXPECT_EQ(terminal.Screen(), std::string("Continue? [y/n]:") + answer.screen);
}

INSTANTIATE_TEST_SUITE_P(Keys, AskYesNoTest,
                         testing::Values(AnswerCase{"y", true, "y\r\n"},
                                         AnswerCase{"Y", true, "y\r\n"},
                                         AnswerCase{"n", false, "n\r\n"},
                                         AnswerCase{"N", false, "n\r\n"},
                                         AnswerCase{"1\rxN", false, "\a\a\an\r\n"},
                                         AnswerCase{"\033[Ay", true, "\a\a\ay\r\n"}),
                         [](const testing::TestParamInfo<AnswerCase>& info) {
                           return "keys" + std::to_string(info.index);
                         });

TEST(AskYesNo, EndOfInputCountsAsNoAndPrintsNothingMore) {
  std::string screen = ScreenOf([] {
    int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, 0);
    return AskYesNo("Continue?") ? 1 : 0;
  });
  EXPECT_EQ(screen, "Continue? [y/n]:");
}

// The words separated by blanks, line ends and runs of both.
std::string Words(int count, const std::string& word) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += (i % 3 == 2 ? "\n  " : " ") + word;
  }
  return text;
}

std::string Repeat(int count, const std::string& text) {
  std::string result;
  for (int i = 0; i < count; ++i) {
    result += text;
  }
  return result;
}

TEST(PrintWrapped, FillsLinesOfAtMost77CharactersEachEndingInABlank) {
  struct {
    std::string text;
    std::string screen;
  } cases[] = {
      {Words(20, "abcde"), Repeat(13, "abcde ") + "\n" + Repeat(7, "abcde ") + "\n"},
      {"", "\n"},
      {"  \n ", "\n"},
      {"one  two\n\nthree", "one two three \n"},
      // A word longer than a line stands alone and whole.
      {"a " + std::string(90, 'w') + " b", "a \n" + std::string(90, 'w') + " \nb \n"},
      {std::string(78, 'w'), std::string(78, 'w') + " \n"},
  };
  for (const auto& example : cases) {
    EXPECT_EQ(ScreenOf([&] {
                PrintWrapped(example.text.c_str());
                return 0;
              }),
              example.screen)
        << example.text;
  }
}

TEST(PrintLine, CentresByHalfTheFreeColumnsAndPrintsBytesAsGiven) {
  std::string text(48, 'x');
  EXPECT_EQ(ScreenOf([&] {
              PrintLine(text.c_str(), 48, true);
              PrintLine("ab\0cd", 5, false);
              return 0;
            }),
            std::string(16, ' ') + text + "\n" + std::string("ab\0cd\n", 6));
}

TEST(SetAttributes, ResetsThenSetsEachMaskedAttributeInOrder) {
  EXPECT_EQ(ScreenOf([] {
              SetAttributes(10);
              SetAttributes(0);
              SetAttributes(5);
              return 0;
            }),
            "\033[m\033[7m\033[1m\033[m\033[m\033[4m\033[5m");
}

TEST(RawMode, SecondEnterKeepsTheFirstSavedAttributesAndRestoreBringsThemBack) {
  Terminal terminal([] {
    termios before;
    tcgetattr(0, &before);
    ConsoleState state;
    EnterRawMode(state);
    termios raw;
    tcgetattr(0, &raw);
    EnterRawMode(state);
    RestoreConsole(state);
    termios after;
    tcgetattr(0, &after);
    bool rawWasRaw = (raw.c_lflag & (ICANON | ECHO)) == 0 && (raw.c_lflag & ISIG) != 0;
    return rawWasRaw && after.c_lflag == before.c_lflag && state.rawActive == 0 ? 0 : 1;
  });
  int status = terminal.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(terminal.Screen(), "\033[?25h");
}

TEST(RestoreConsole, WithoutRawModeOnlyShowsTheCursor) {
  EXPECT_EQ(ScreenOf([] {
              ConsoleState state;
              RestoreConsole(state);
              return 0;
            }),
            "\033[?25h");
}

TEST(ShowWelcome, ClearsTheScreenShowsTheBannerAndLabelsTheLcd) {
  char lcdPath[] = "/tmp/vela-lcd-XXXXXX";
  int lcd = mkstemp(lcdPath);
  ASSERT_GE(lcd, 0);
  std::string screen = ScreenOf([lcd] {
    lcdDescriptor = lcd;
    ShowWelcome("remote installation");
    return processConsole.rawActive == 1 ? 0 : 1;
  });
  EXPECT_EQ(screen,
            "\033[?25l\033[2J\033[HWelcome to Corvanta Router Software remote installation\n"
            "Press Ctrl-Alt-Delete to abort\n");
  char label[16] = {};
  EXPECT_EQ(pread(lcd, label, sizeof label, 0), 9);
  EXPECT_STREQ(label, "netdeploy");
  close(lcd);
  unlink(lcdPath);
}

}  // namespace
