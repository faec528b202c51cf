#include "platform/child_process.h"

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "gtest/gtest.h"
#include "platform/pending_interrupt.h"

namespace {

pid_t sleeper = -1;
int actionsRun = 0;

// Notes SIGINT through the installer's handler while the test runs, and restores the old one.
class InterruptNoting : public testing::Test {
 protected:
  void SetUp() override {
    struct sigaction noting {};
    noting.sa_handler = NoteInterrupt;
    sigemptyset(&noting.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &noting, &saved_), 0);
    actionsRun = 0;
  }
  void TearDown() override {
    SetInterruptAction(nullptr);
    sigaction(SIGINT, &saved_, nullptr);
  }

  struct sigaction saved_ {};
};

// An interrupt that comes while the installer waits for a child must be carried out then, not
// after the next key.
TEST_F(InterruptNoting, CarriedOutWhenItCameWhileTheChildRan) {
  SetInterruptAction([] { ++actionsRun; });
  ChildPlan plan;
  pid_t child = StartChild(plan, [] { return kill(getppid(), SIGINT) == 0 ? 3 : 4; });
  ASSERT_GT(child, 0);
  int status = WaitForChild(child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
  EXPECT_EQ(actionsRun, 1);
  EXPECT_EQ(WaitForChild(child), -1);  // already collected
}

// A SIGINT that does not cut the wait itself short (here it is handled on another thread, as when
// it lands just before the blocking call) still ends the wait at once: the action ends the child,
// which would otherwise run on for seconds.
TEST_F(InterruptNoting, CarriedOutAtOnceWhenTheWaitItselfIsNotCutShort) {
  SetInterruptAction([] {
    ++actionsRun;
    kill(sleeper, SIGKILL);
  });
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &interrupt, nullptr), 0);
  ChildPlan plan;
  sleeper = StartChild(plan, [] { return sleep(5) == 0 ? 0 : 1; });
  std::thread noter([&interrupt] {
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
    usleep(20 * 1000);  // lets the test thread block in its wait first
    pthread_kill(pthread_self(), SIGINT);
  });
  int status = WaitForChild(sleeper);
  noter.join();
  pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
  EXPECT_EQ(actionsRun, 1);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
}

}  // namespace
