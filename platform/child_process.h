#pragma once

#include <sys/types.h>

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
