#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>

#include "platform/child_process.h"

// The process id of the piped child (an sfdisk pipe or the installer child), -1 when none. At
// most one exists at a time.
extern pid_t childPid;

// Where external programs write their output: "/dev/tty9", or "/dev/null" on a serial console.
extern char logTerminalPath[16];

// Starts a child from the plan it is given, e.g. with StartChild; its process id or -1.
using ChildStarter = std::function<pid_t(const ChildPlan&)>;

// Starts the piped child: a new pipe's end becomes the child's standard output (`childWrites`)
// or input, the rest of `plan` stays. Returns a stream on the installer's end ("r" or "w") and
// records the child in childPid; null when a piped child exists already or a step failed (a
// started child is then waited for).
FILE* OpenPipedChild(ChildPlan plan, bool childWrites, const ChildStarter& start);

// Arguments handed to an external program after its own path; at most kMaxArguments.
using ArgumentList = std::initializer_list<const char*>;
inline constexpr size_t kMaxArguments = 14;

// Starts "/sbin/sfdisk" with the arguments and returns a stream on its standard output (its
// errors go to the log terminal), or null when a piped child exists already or the start failed.
FILE* OpenSfdiskOutput(ArgumentList arguments);

// Starts "/sbin/sfdisk" with the arguments and returns a stream on its standard input, or null
// as above. An argument ">null" is not passed on: it sends the tool's output to the log terminal.
FILE* OpenSfdiskInput(ArgumentList arguments);

// Closes the stream of the piped child and waits for it. Returns its raw wait status, or -1 when
// there is no piped child, the stream could not be closed or waiting failed.
int ClosePipedChild(FILE* stream);

// Runs `program` with the arguments, inside `root` when it is not null, with standard input from
// "/dev/null" and output on the log terminal ("/dev/null" when that cannot be opened), and
// waits. Returns the raw wait status (0 when the
// program exited with 0; exit code 127 when it or the root could not be entered), or -1 when no
// child could be started or waiting failed.
int RunProgram(const char* root, const char* program, ArgumentList arguments);

// Prints the message and then one dot per second until StopProgress.
void StartProgress(const char* message);

// Ends the dots of StartProgress with a line end.
void StopProgress();

// Sleeps whole seconds, also through the alarms of the progress dots; an interrupt that arrives
// meanwhile is carried out.
void SleepSeconds(unsigned seconds);

// A whole file in memory; the bytes (malloc'ed, null when the size is 0) belong to the holder.
struct FileBuffer {
  uint32_t size = 0;
  unsigned char* bytes = nullptr;
};

// Reads the whole file at `path` into `buffer`. Returns false (printing nothing) when the file
// cannot be opened, examined, held in memory or read to its stated size.
bool ReadWholeFile(const char* path, FileBuffer& buffer);
