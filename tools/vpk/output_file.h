#pragma once

#include <string>

// A file written under a temporary name in its final directory and renamed into place only when
// complete, so that a failure never leaves a partial or stale result under the final name.
struct PendingOutput {
  std::string path;       // the final name
  std::string temporary;  // where the content is written meanwhile
};

// Creates an empty temporary file next to path. Prints an error and returns false on failure.
bool BeginOutput(const std::string& path, PendingOutput* output);

// Gives the temporary file the usual permissions (0666 less the umask) and renames it to the final
// name. On failure prints an error, removes the temporary file and returns false.
bool CommitOutput(const PendingOutput& output);

// Removes the temporary file; used on every failure path after BeginOutput.
void AbandonOutput(const PendingOutput& output);

// Copies the whole of the file at from over the existing file at to. Prints an error and returns
// false on failure.
bool CopyWholeFile(const std::string& from, const std::string& to);
