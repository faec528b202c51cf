#include "startup/interrupt.h"

#include <sys/wait.h>

#include "console/console.h"
#include "gtest/gtest.h"
#include "tests/support/sandbox_layout.h"
#include "tests/support/terminal.h"

namespace {

// The interrupt is carried out where the installer waits, here for a key.
TEST(Interrupt, WhileWaitingForAnAnswerAbortsWaitsForEnterAndReboots) {
  Terminal terminal([] {
    InstallInterruptHandler();
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

}  // namespace
