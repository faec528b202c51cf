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

// The record, at the root of the tree, of the dropped files that a boot-time installation put in
// RAM and has not finished with. One line each: "copied" or "moved", the drop directory
// ("rw/pckg" or "var/pckg"), the package's name, its packed version in decimal, and the file's
// name (the rest of the line), e.g. "moved rw/pckg ppp 33580544 ppp-2.0.vpk" (2.0).
constexpr const char kRamRecordName[] = ".vpk-in-ram";

// The bytes free for an ordinary writer on the file system that holds path; 0 when unknown.
std::uint64_t FreeBytes(const std::string& path);

// What a boot-time installation asks beyond its files: the free space on the flash (FreeBytes
// of the tree's root), and a call after each step that changes the flash or RAM ("placed" after
// each file put in RAM, "committed" after each installation before its file is deleted, "done"
// after each file is dealt with), so that tests can stop the run there as a kill would.
struct BootInstallProbes {
  std::uint64_t (*flashFree)(const std::string& path) = FreeBytes;
  void (*stepDone)(const char* step) = nullptr;
};

// The process's probes; tests replace them and put the defaults back.
BootInstallProbes& GetBootInstallProbes();
