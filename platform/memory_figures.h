#pragma once

#include <cstdint>
#include <map>
#include <string>

// The figures of a meminfo file such as "/proc/meminfo", by name ("MemFree", "MemAvailable", ...),
// in KiB as the file gives them; the first line of a name counts, lines without a number are
// passed over. False when the file cannot be read.
bool ReadMemoryFigures(const std::string& path, std::map<std::string, std::uint64_t>& figures);
