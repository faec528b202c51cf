#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "packages/package.h"
#include "packages/roots.h"

// The layout of the package database in the target tree and the small file operations that every
// database module shares. Database files are outside input: every read is bounded.

// The words of the scheduled actions, indexed by the action ("" for none): "uninstall", "enable",
// "disable". Schedule files hold them; messages name actions with them.
extern const char* const scheduledActionWords[4];

// Largest "files" list that is read, and largest of the one-line files (version, bundle, disabled,
// schedule, and the post-installation log's lines). Anything larger is damage.
constexpr std::size_t kMaxFilesListSize = 32 << 20;
constexpr std::size_t kMaxSmallFileSize = 4096;

// True for a name that can be a directory of var/pdb: not empty, not "." or "..", without "/" or
// NUL. Every other name would lead out of var/pdb and is never used to build a path.
bool IsSafeDirectoryName(std::string_view name);

// The package's database directory with a closing "/": the target root + "/var/pdb/" + name + "/";
// below the working directory, the same text behind ".", naming it from the working directory "/".
std::string PackageDirectory(const Package& p, Placement placement);

// The outcome of reading a database file.
enum class FileStatus {
  kMissing,  // it cannot be opened
  kRead,     // text holds its content
  kDamaged,  // not a regular file, larger than the limit, or a read error; text is empty
};

// Reads the whole file at path into text, refusing more than limit bytes. Never blocks on a FIFO
// and prints nothing.
FileStatus ReadDatabaseFile(const std::string& path, std::size_t limit, std::string& text);

// Removes the first white-space separated word of text, and the blanks before it, and returns
// it; empty when text has no word left.
std::string_view TakeWord(std::string_view& text);

// The first white-space separated word of text; empty when it has none.
std::string_view FirstWord(std::string_view text);

// The text up to the first line end (all of it when it has none).
std::string_view FirstLine(std::string_view text);

// Creates or truncates the file at path and writes text; a symbolic link in the last place is
// refused, never followed. False with errno set when opening, writing or closing fails.
bool WriteDatabaseFile(const std::string& path, std::string_view text);

// Deletes the file at path, or nothing when it is missing; errors are ignored.
void DeleteDatabaseFile(const std::string& path);
