#pragma once

#include <string>

// Whether `device` names a whole disk that can be installed on: "/dev/" and an IDE, SCSI, SATA or
// USB disk (hda, sdb, sdaa), virtio (vda), Xen (xvda), NVMe namespace (nvme0n1) or eMMC and SD
// (mmcblk0) name. Partitions, CD drives, loop, RAM, zram and device-mapper nodes are not. The
// medium's geometry query lists disks by the same rule.
bool IsWholeDiskDevice(const char* device);

// The device of partition `number` of `disk`: the number appended ("/dev/sda2"), behind a "p"
// where the disk's name ends in a digit ("/dev/nvme0n1p2", "/dev/mmcblk0p1").
std::string PartitionDevice(const char* disk, int number);

// Whether `device` is `disk` itself or one of its partitions.
bool DeviceOnDisk(const char* device, const char* disk);
