#pragma once

#include <cstdint>
#include <string>

// Memory that always stays free, and the most that package files may take in RAM, in KiB.
constexpr std::uint64_t kKeptFreeMemory = 8192;
constexpr std::uint64_t kMaxRamBudget = 131072;

// The bytes of package files that may be moved into RAM, from the meminfo file at path:
// MemFree + Buffers + Cached (KiB) less kKeptFreeMemory, capped at kMaxRamBudget, times 1024.
// 0 when the file cannot be read or lacks one of MemTotal, MemFree, Buffers and Cached.
std::uint64_t RamBudget(const std::string& path);
