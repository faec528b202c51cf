#include "tests/support/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

[[noreturn]] void RunOnSlave(int master, int held, const std::function<int()>& body) {
  setsid();
  int slave = open(ptsname(master), O_RDWR);
  close(master);
  close(held);
  winsize size{};
  size.ws_row = 25;
  size.ws_col = 80;
  if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) != 0 || ioctl(slave, TIOCSWINSZ, &size) != 0) {
    _exit(121);
  }
  dup2(slave, 0);
  dup2(slave, 1);
  dup2(slave, 2);
  if (slave > 2) {
    close(slave);
  }
  int code = body();
  fflush(stdout);
  _exit(code);
}

}  // namespace

Terminal::Terminal(const std::function<int()>& body) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    return;
  }
  // Held open here as well, so that the screen stays readable while the child has closed its
  // side for a moment (a console that is reopened on another path).
  slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
  fflush(stdout);
  fflush(stderr);
  pid_ = fork();
  if (pid_ == 0) {
    RunOnSlave(master_, slave_, body);
  }
}

Terminal::~Terminal() {
  if (pid_ > 0 && status_ == -1) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int descriptor : {master_, slave_}) {
    if (descriptor >= 0) {
      close(descriptor);
    }
  }
}

bool Terminal::ReadSome(int timeoutMilliseconds) {
  pollfd wanted{master_, POLLIN, 0};
  if (poll(&wanted, 1, timeoutMilliseconds) <= 0) {
    return false;
  }
  char buffer[4096];
  ssize_t count = read(master_, buffer, sizeof buffer);
  if (count <= 0) {
    return false;  // every holder of the child's side has closed it
  }
  screen_.append(buffer, count);
  return true;
}

bool Terminal::Expect(const std::string& text, int timeoutMilliseconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  for (;;) {
    size_t found = screen_.find(text, consumed_);
    if (found != std::string::npos) {
      consumed_ = found + text.size();
      return true;
    }
    if (MillisecondsLeft(deadline) == 0 || !ReadSome(MillisecondsLeft(deadline))) {
      return false;
    }
  }
}

void Terminal::Type(const std::string& keys) {
  if (write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
    perror("typing into the terminal");
  }
}

int Terminal::Wait(int timeoutMilliseconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (status_ == -1 && pid_ > 0) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      break;
    }
    if (MillisecondsLeft(deadline) == 0) {
      return -1;  // the destructor kills it
    }
    ReadSome(20);
  }
  while (ReadSome(50)) {
  }
  return status_;
}
