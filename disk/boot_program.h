#pragma once

// Where the installation medium carries the boot program (the code part of a master boot record
// that starts the active partition) for disks that never held a system.
inline constexpr const char* kMediumBootProgram = "/boot/mbr.bin";

// The code area of a master boot record. The six bytes after it, in front of the partition table,
// hold the disk signature that the partitioning tool writes, so they say nothing about a program.
inline constexpr int kBootProgramBytes = 440;

// Copies the boot program file `program` (at most its first 440 bytes) to the start of `disk`
// when the disk's first 440 bytes are all zero; a disk that has a boot program keeps it. A
// missing program file leaves the disk alone and succeeds. False, after printing
// "WARNING: couldn't write boot program", when the disk cannot be read or written.
bool InstallBootProgram(const char* disk, const char* program);
