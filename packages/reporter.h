#pragma once

#include <cstdint>
#include <string>

#include "packages/package_database.h"
#include "streams/part_reader.h"

// The package manager's one message sink. It keeps a status line (a progress bar) at the bottom of
// standard output, prints whole-line messages above it and collects every message in the
// database's log. Under the database's quiet flag nothing is printed and nothing is logged.

// Formatted text longer than this is cut; a message's prefix is not counted.
constexpr std::size_t kMaxMessageLength = 255;

// Labels this long or longer would leave no room for a progress bar; they are shortened to
// kShortenedLabelLength characters (their start, "...", their end), which leaves a bar of 10.
constexpr std::size_t kLongLabelLength = 74;
constexpr std::size_t kShortenedLabelLength = 64;

// Replaces the status line in place: hides the cursor, writes "\r", text and as many blanks as the
// old line was longer, then "\r" and shows the cursor again. An unchanged text writes nothing.
// The empty text clears the line.
void ShowStatus(PackageDatabase& db, const std::string& text);

// Shows how far reader has come through its container as ProgressLine (label, offset of the
// current part + read position inside it, container size). An unchanged bar writes nothing.
void ShowProgress(PackageDatabase& db, PartReader& reader, const std::string& label);

// ShowProgress with InstallingLabel (p).
void ShowInstallingProgress(PackageDatabase& db, const Package& p, PartReader& reader);

// Clears the status line, then prints the message on its own line and logs it.
void ReportInfo(PackageDatabase& db, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Prints "WARNING: " and the message on its own line above the status line, which is drawn again
// below it; logs the message with its prefix.
void ReportWarning(PackageDatabase& db, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Clears the status line for good, then prints and logs "ERROR: " and the message.
void ReportError(PackageDatabase& db, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
