#pragma once

#include <cstdint>
#include <string>

#include "packages/package.h"

// The progress line for done of total bytes: label, " [", one "#" per full step of the bar and
// blanks up to a closing "]" at column 77. The bar is 76 - (label length + 2) wide; a done beyond
// total shows a full bar and a total of 0 an empty one.
std::string ProgressLine(const std::string& label, std::uint64_t done, std::uint64_t total);

// The label of a package's installation progress: "installing ", " (disabled) " for a disabled
// package that is no bundle member, then MemberDisplayName.
std::string InstallingLabel(const Package& p);
