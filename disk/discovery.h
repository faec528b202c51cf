#pragma once

#include <cstdint>

// One disk as the geometry query of the disk tool reports it.
struct DiskInfo {
  char device[33] = "";  // device path of the whole disk, at most 32 characters
  uint32_t cylinders = 0;
  uint32_t cylinderBytes = 0;  // heads x sectors per track x 512
  bool moreThan1023Cylinders = false;
  bool largerThan40MiB = false;
};

// The disk that the system is installed on; one instance, owned by the entry point.
using TargetDisk = DiskInfo;

inline constexpr int kDiskTableSize = 4;

// Reads one line of "sfdisk -g" output ("/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track")
// into `disk`. False when the line does not begin with "/dev/", does not convert, or describes an
// empty or impossible geometry.
bool ParseGeometryLine(const char* line, DiskInfo& disk);

// Runs the geometry query once and records the whole disks it lists (IsWholeDiskDevice), in its
// order, in the process-wide table of kDiskTableSize entries. Returns the table, or null when the
// query could not start or listed no disk.
DiskInfo* ListDisks();

// Searches for disks (20 attempts, one second apart), copies the first one listed that holds no
// mounted file system (the medium, when that is a disk) into `target` and announces it. False
// after "FATAL ERROR: no harddrives found" when none was found.
bool FindTargetDisk(TargetDisk& target);
