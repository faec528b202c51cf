#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

// A child process whose console is a pseudo-terminal of 80 columns and 25 rows, which the test
// reads and types into. The child is the leader of its own session with the terminal as its
// controlling terminal, so a typed Ctrl-C interrupts it as a keyboard would.
class Terminal {
 public:
  // Forks the child; it runs `body` with its standard streams on the terminal and exits with
  // what `body` returns.
  explicit Terminal(const std::function<int()>& body);
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Reads the screen until `text` has appeared after what earlier Expects consumed; false after
  // the timeout or when the child has closed the terminal first.
  bool Expect(const std::string& text, int timeoutMilliseconds = 10000);
  // Types the bytes as a keyboard would.
  void Type(const std::string& keys);
  // Waits for the child to end, reading the rest of the screen; its raw wait status, or -1 when it
  // did not end within the timeout (it is killed then).
  int Wait(int timeoutMilliseconds = 20000);

  // Everything the child has written so far, escape sequences included.
  const std::string& Screen() const { return screen_; }

 private:
  bool ReadSome(int timeoutMilliseconds);

  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  int status_ = -1;
  std::string screen_;
  size_t consumed_ = 0;
};
