#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>

// The one way the system starts a child process: the disk tools, package scripts, the init
// wrapper and the installer child all go through StartChild and WaitForChild. Both carry out a
// pending interrupt (platform/pending_interrupt.h) first.

// Where one standard descriptor of a child comes from. With neither field set it is inherited.
struct ChildStream {
  int descriptor = -1;         // a descriptor of the parent, moved into place in the child
  const char* path = nullptr;  // else a path opened in the child (read-only for standard input,
                               // write-only otherwise), "/dev/null" when it cannot be opened
};

// How a child is set up before it runs. Any step that fails ends the child with exit code 127
// before it runs anything.
struct ChildPlan {
  ChildStream input;
  ChildStream output;
  ChildStream error;
  bool errorJoinsOutput = false;  // standard error is a copy of standard output (`error` unused)
  bool closeInherited = true;     // descriptors 3 to 15 are closed
  const char* root = nullptr;     // the root directory is changed to it (ChangeRoot)
  bool workInRoot = false;        // with `root`: the working directory moves to its top too
};

// Starts a child set up by `plan` that executes `arguments[0]` with the null-terminated argument
// vector (looked up inside the new root), or ends with exit code 127 when it cannot. Returns the
// child's process id, or -1 when no child could be started.
pid_t StartChild(const ChildPlan& plan, const char* const* arguments);

// Starts a child set up by `plan` that runs `body` and exits with what it returns, its standard
// streams flushed. Returns the child's process id, or -1 when no child could be started.
pid_t StartChild(const ChildPlan& plan, const std::function<int()>& body);

// Waits for the child through interrupted waits, carrying out a pending interrupt before and after
// each. Returns the raw wait status, or -1 when waiting fails.
int WaitForChild(pid_t child);

// Starts a child from the plan it is given, e.g. with StartChild; its process id or -1.
using ChildStarter = std::function<pid_t(const ChildPlan&)>;

// Which standard stream of a piped child is the pipe: its output (read here) or its input
// (written here).
enum class PipeDirection { kChildWrites, kChildReads };

// A child whose standard output or input is a pipe to a stream of this process. It owns the child
// and the stream: moved, never copied; one still open when destroyed is closed and waited for.
class PipedChild {
 public:
  PipedChild() = default;
  PipedChild(PipedChild&& other) noexcept;
  PipedChild& operator=(PipedChild&& other) noexcept;
  PipedChild(const PipedChild&) = delete;
  PipedChild& operator=(const PipedChild&) = delete;
  ~PipedChild();

  // Starts a child through `start` with a new pipe's end as its standard output or input; the
  // rest of `plan` stays. The result is not open when a step failed (a started child is then
  // waited for).
  static PipedChild Start(ChildPlan plan, PipeDirection direction, const ChildStarter& start);

  bool IsOpen() const { return stream_ != nullptr; }
  // The stream on this process's end ("r" or "w"); null when not open.
  FILE* Stream() const { return stream_; }
  pid_t Pid() const { return pid_; }

  // Closes the stream and waits for the child. Returns its raw wait status, or -1 when it was not
  // open, the stream could not be closed or waiting failed.
  int Close();

 private:
  pid_t pid_ = -1;
  FILE* stream_ = nullptr;
};
