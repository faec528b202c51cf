"""Reads an installed disk image on the host: its partition table, its file systems (checked with
e2fsck, mounted read-only through a loop device) and what the installer wrote there."""

import contextlib
import os
import subprocess
import tempfile

SECTOR = 512
HEADS, SECTORS = 255, 63  # the geometry the partitioning tool reports for any disk
CYLINDER_BYTES = HEADS * SECTORS * SECTOR


def run(*command, check=True):
    return subprocess.run(command, check=check, capture_output=True, text=True)


def partitions(image):
    """The table as (start, size, type, bootable) in sectors, in order."""
    table = []
    for line in run("sfdisk", "-d", image).stdout.splitlines():
        if " : " not in line:
            continue
        fields = dict(f.strip().split("=") for f in line.split(" : ")[1].split(",") if "=" in f)
        table.append((int(fields["start"]), int(fields["size"]), fields["type"],
                      "bootable" in line))
    return table


def expected_partitions(image, efi=False):
    """The table that the installer's layout gives a disk of this size, in sectors: a disk of
    more than 1023 cylinders gets a boot partition of the fewest cylinders that hold 10 MiB, and
    a machine started through UEFI an EFI system partition of 32 MiB's cylinders at the end."""
    # The table addresses 2^32 - 1 sectors at most: a larger disk is used up to there.
    cylinders = min(os.path.getsize(image), (2**32 - 1) * SECTOR) // CYLINDER_BYTES
    track, cylinder = SECTORS, HEADS * SECTORS
    efi_cylinders = -(-32 * 1024 * 1024 // CYLINDER_BYTES) if efi else 0
    end = cylinders - efi_cylinders
    if cylinders <= 1023:
        table = [(track, end * cylinder - track, "83", True)]
    else:
        boot = -(-10 * 1024 * 1024 // CYLINDER_BYTES)
        table = [(track, boot * cylinder - track, "83", True),
                 (boot * cylinder, (end - boot) * cylinder, "83", False)]
    if efi:
        table.append((end * cylinder, efi_cylinders * cylinder, "ef", False))
    return table


@contextlib.contextmanager
def loop_device(image, partition, writable=False):
    start, size = partition[0] * SECTOR, partition[1] * SECTOR
    options = [] if writable else ["-r"]
    device = run("losetup", "-f", "--show", *options, "-o", str(start), "--sizelimit",
                 str(size), image).stdout.strip()
    try:
        yield device
    finally:
        run("losetup", "-d", device, check=False)


def file_system_clean(image, partition):
    """e2fsck -fn's verdict and output for one partition."""
    with loop_device(image, partition) as device:
        checker = "fsck.vfat" if partition[2] == "ef" else "e2fsck"
        result = run(checker, "-n" if partition[2] == "ef" else "-fn", device, check=False)
    return result.returncode == 0, result.stdout + result.stderr


@contextlib.contextmanager
def mounted(image, partition, writable=False):
    """The partition's file system mounted in a temporary directory."""
    with loop_device(image, partition, writable) as device, \
            tempfile.TemporaryDirectory() as directory:
        run("mount", "-o", "rw,noatime" if writable else "ro,noatime", device, directory)
        try:
            yield directory
        finally:
            run("umount", directory)


def read(directory, path):
    with open(os.path.join(directory, path), encoding="latin-1") as file:
        return file.read()


def partition_device(disk, number):
    """/dev/sda1, or /dev/nvme0n1p1 where the disk's name ends in a digit."""
    return f"{disk}{'p' if disk[-1].isdigit() else ''}{number}"


def lilo_conf(disk, boot_partition):
    first, second = partition_device(disk, 1), partition_device(disk, 2)
    return (f"boot={first}\nmap=/boot/map\ninstall=/boot/boot.b\nlba32\nimage=/boot/vmlinuz\n"
            f"  label=System\n  root={second if boot_partition else first}\n  read-only\n")


def fstab(disk, boot_partition, efi=False):
    first, second = partition_device(disk, 1), partition_device(disk, 2)
    if boot_partition:
        devices = f"{second}  /     ext3 defaults 1 1\n{first}  /boot ext2 defaults 1 2\n"
    else:
        devices = f"{first}  /     ext3 defaults 1 1\n"
    if efi:
        efi_device = partition_device(disk, 3 if boot_partition else 2)
        devices += f"{efi_device}  /boot/efi vfat defaults 0 2\n"
    return devices + "none /proc proc defaults 0 0\nnone /dev/pts devpts gid=5,mode=620 0 0\n"


def tree_state(root):
    """Every entry below root with its type and mode, owner, times and content."""
    state = {}
    for directory, names, files in os.walk(root):
        for name in names + files:
            path = os.path.join(directory, name)
            status = os.lstat(path)
            content = None
            if os.path.isfile(path):
                with open(path, "rb") as file:
                    content = file.read()
            state[os.path.relpath(path, root)] = (status.st_mode, status.st_uid, status.st_gid,
                                                  int(status.st_atime), int(status.st_mtime),
                                                  content)
    return state
