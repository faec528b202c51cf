#pragma once

#include <cstddef>
#include <initializer_list>

#include "platform/child_process.h"

// The external tools of the disk work (sfdisk, mke2fs, fsck and the like), run with their output
// on the log terminal.

// Where external programs write their output: "/dev/tty9" unless set, "/dev/null" on a serial
// console. The path is copied (at most 15 bytes are kept).
void SetLogTerminal(const char* path);
const char* LogTerminal();

// Arguments handed to an external program after its own path; at most kMaxArguments.
using ArgumentList = std::initializer_list<const char*>;
inline constexpr size_t kMaxArguments = 14;

// Starts "/sbin/sfdisk" with the arguments and returns it with a stream on its standard output
// (its errors go to the log terminal); not open when the start failed.
PipedChild OpenSfdiskOutput(ArgumentList arguments);

// Starts "/sbin/sfdisk" with the arguments and returns it with a stream on its standard input,
// or not open as above. An argument ">null" is not passed on: it sends the tool's output to the
// log terminal.
PipedChild OpenSfdiskInput(ArgumentList arguments);

// Runs `program` with the arguments, inside `root` when it is not null, with standard input from
// "/dev/null" and output on the log terminal ("/dev/null" when that cannot be opened), and
// waits. Returns the raw wait status (0 when the
// program exited with 0; exit code 127 when it or the root could not be entered), or -1 when no
// child could be started or waiting failed.
int RunProgram(const char* root, const char* program, ArgumentList arguments);
