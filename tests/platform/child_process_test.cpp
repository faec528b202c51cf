#include "platform/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "gtest/gtest.h"
#include "platform/pending_interrupt.h"

namespace {

int actionsRun = 0;

// An interrupt that comes while the installer waits for a child must be carried out then, not
// after the next key.
TEST(WaitForChild, CarriesOutAnInterruptThatCameWhileWaiting) {
  struct sigaction saved {};
  struct sigaction noting {};
  noting.sa_handler = NoteInterrupt;
  sigemptyset(&noting.sa_mask);
  ASSERT_EQ(sigaction(SIGINT, &noting, &saved), 0);
  SetInterruptAction([] { ++actionsRun; });
  actionsRun = 0;
  ChildPlan plan;
  pid_t child = StartChild(plan, [] { return kill(getppid(), SIGINT) == 0 ? 3 : 4; });
  ASSERT_GT(child, 0);
  int status = WaitForChild(child);
  SetInterruptAction(nullptr);
  sigaction(SIGINT, &saved, nullptr);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
  EXPECT_EQ(actionsRun, 1);
  EXPECT_EQ(WaitForChild(child), -1);  // already collected
}

}  // namespace
