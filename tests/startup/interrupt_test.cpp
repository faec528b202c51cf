#include "startup/interrupt.h"

#include <sys/wait.h>

#include <csignal>

#include "console/console.h"
#include "gtest/gtest.h"
#include "startup/state.h"
#include "tests/support/sandbox_layout.h"
#include "tests/support/terminal.h"

namespace {

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

TEST(Interrupt, WhileWaitingForAnAnswerAbortsWaitsForEnterAndReboots) {
  Terminal terminal([] {
    CatchInterrupts();
    EnterRawMode(processConsole);
    AskYesNo("Continue?");
    return 0;  // reached only when the interrupt was lost
  });
  ASSERT_TRUE(terminal.Expect("Continue? [y/n]:"));
  terminal.Type("\003");
  ASSERT_TRUE(terminal.Expect("\r\n\r\nInstallation aborted\r\nPress ENTER to reboot\r\n"))
      << terminal.Screen();
  terminal.Type("q\r");
  int status = terminal.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == kRebootSignal) << status;
  EXPECT_TRUE(terminal.Expect("\a\033[?25h")) << terminal.Screen();
}

TEST(WaitForEnter, RingsForOtherKeysAndEndsAtLineEnd) {
  Terminal terminal([] {
    EnterRawMode(processConsole);
    fputs("ready:", stdout);
    WaitForEnter();
    return 7;
  });
  ASSERT_TRUE(terminal.Expect("ready:"));
  terminal.Type("ab\r");
  int status = terminal.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
  EXPECT_EQ(terminal.Screen(), "ready:\a\a");
}

}  // namespace
