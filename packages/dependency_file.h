#pragma once

#include <string>
#include <vector>

#include "packages/version.h"

// Largest dependency list file that is read, and longest name in it. Lists written by the system
// stay far below both; anything larger is damage.
constexpr std::size_t kMaxDependencyFileSize = 1 << 20;
constexpr std::size_t kMaxDependencyNameLength = 255;

// Whether each record of a dependency list ends in a priority (provides lists) or not.
enum class PriorityColumn { kAbsent, kPresent };

// Appends the records of a text list of white-space separated words: name, minimum and maximum
// version as unsigned decimals, and with a priority column a signed decimal priority. A file that
// cannot be opened reads as empty and returns true. A record with a missing or malformed number, a
// name over the limit, a file over the size limit or not a regular file returns false; records
// appended before stay. On false, error (when given) receives a one-line reason; nothing is
// printed.
bool ReadDependencyFile(const std::string& path, std::vector<Dependency>& out,
                        PriorityColumn priority, std::string* error = nullptr);
