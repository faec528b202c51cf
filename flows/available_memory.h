#pragma once

#include <cstdint>

// Reads the "MemAvailable:" line (in kB) of a meminfo file such as "/proc/meminfo" into bytes.
// False when the file cannot be read or holds no such line with a number.
bool ReadAvailableMemory(const char* path, std::uint64_t& bytes);
