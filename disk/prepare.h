#pragma once

#include <cstdio>

#include "disk/discovery.h"

// Whether the machine was started through UEFI firmware (the kernel shows /sys/firmware/efi). The
// new system then gets an EFI system partition (type ef, FAT) after its others, mounted at
// /boot/efi; on a BIOS machine the layout is the one without it.
bool StartedThroughUefi();

// Whether MountTarget also mounts the boot partition of the boot-partition layout.
enum class BootMount { kRootOnly, kWithBoot };

// Mounts the installed system of the disk at the target root (TargetPath, packages/roots.h),
// finding its layout and file-system type by trying partition 2 and 1 as ext3, then as ext2. In
// the boot-partition layout and with BootMount::kWithBoot, also mounts partition 1 at its /boot.
// False when nothing could be mounted (or the boot partition could not, in which case the root is
// unmounted again).
bool MountTarget(const TargetDisk& target, BootMount boot);

// Turns the disk into an empty new system mounted at the target root: keeps the old configuration
// in memory when asked, repartitions, formats, mounts, writes lilo.conf, fstab and the base
// directories, and writes the kept configuration back. A disk whose boot program area is blank
// gets the medium's boot program (InstallBootProgram). Returns false after printing the one
// message of the step that failed.
bool PrepareDisk(const TargetDisk& target, bool keepConfiguration);

// Counts the entries of a partition table listing ("sfdisk -d") read from dump to its end: the
// lines that begin with "/dev/".
int CountTableEntries(FILE* dump);
