"""A PC under QEMU whose first serial port is the console, driven with pexpect."""

import os
import shutil
import subprocess
import sys
import time

import pexpect


# How the disk is attached for each kind of controller, and the machine that has it. "ide" is the
# old PC (i440FX), every other kind a q35 machine, whose own SATA controller is AHCI.
DISK_BUSES = {
    "ide": ("pc", ["-device", "ide-hd,drive=disk,bus=ide.0,unit=0"]),
    "ahci": ("q35", ["-device", "ide-hd,drive=disk,bus=ide.0"]),
    "nvme": ("q35", ["-device", "nvme,drive=disk,serial=vela-e2e"]),
    "virtio": ("q35", ["-device", "virtio-blk-pci,drive=disk"]),
    "usb3": ("q35", ["-device", "qemu-xhci,id=xhci", "-device", "usb-storage,bus=xhci.0,drive=disk"]),
}


class Machine:
    """Boots QEMU (always -accel tcg: KVM hangs on these machines) with a disk on the controller
    that `bus` names and, optionally, a CD on the machine's own IDE or AHCI controller, or a kernel
    and initramfs given directly (netboot) with a network card on a tap device inside a network
    namespace; -no-reboot makes the installer's reboot end QEMU. The CD, when there is one, boots
    first, then the disk."""

    def __init__(self, disk, cdrom=None, log=None, memory="512", netboot=None, tap=None,
                 bus="ide", firmware="bios"):
        machine, disk_device = DISK_BUSES[bus]
        # The image stays sparse: blocks the guest zeroes (the inode tables that the new file
        # system's first mount zeroes, tens of GB on 2 TiB) stay holes in the file.
        command = ["qemu-system-x86_64", "-accel", "tcg", "-machine", machine, "-m", memory,
                   "-no-reboot", "-display", "none", "-vga", "none", "-serial", "stdio",
                   "-monitor", "none", "-drive",
                   f"file={disk},format=raw,if=none,id=disk,discard=unmap,detect-zeroes=unmap"]
        if firmware == "uefi":
            command += uefi_firmware(disk)
        # Index 0 is the CD's, or the directly given kernel's.
        disk_device = disk_device[:-1] + [disk_device[-1] + ",bootindex=1"]
        command += disk_device
        if tap:
            namespace, device = tap
            # QEMU opens the tap inside the namespace: nothing reaches the host's own network.
            command = ["ip", "netns", "exec", namespace] + command + [
                "-netdev", f"tap,id=n,ifname={device},script=no,downscript=no",
                "-device", "e1000,netdev=n"]
        else:
            command += ["-nic", "none"]
        if netboot:
            kernel, initrd = netboot
            command += ["-kernel", kernel, "-initrd", initrd,
                        "-append", "console=ttyS0,115200 quiet"]
        elif cdrom:
            # The second IDE channel of the old PC, the third SATA port of q35.
            cd_bus = "ide.1,unit=0" if machine == "pc" else "ide.2"
            command += ["-drive", f"file={cdrom},format=raw,if=none,id=cd,media=cdrom",
                        "-device", f"ide-cd,drive=cd,bus={cd_bus},bootindex=0"]
        self.started = time.monotonic()
        self.child = pexpect.spawn(command[0], command[1:], encoding="latin-1",
                                   codec_errors="replace", timeout=300)
        self.child.logfile_read = log if log is not None else sys.stdout

    def expect(self, text, timeout=300):
        """Waits for the literal text on the console; fails at once when the installer or the
        kernel reports a fatal error first, instead of waiting out the timeout."""
        failures = ["FATAL ERROR", "Kernel panic"]
        if self.child.expect_exact([text] + failures, timeout=timeout) != 0:
            said = self.child.after
            self.child.expect_exact(["\n", pexpect.TIMEOUT], timeout=5)
            raise AssertionError(f"waiting for {text!r}, the console said: {said}{self.child.before}")

    def send(self, keys):
        self.child.send(keys)

    def wait_off(self, timeout=300):
        """Waits until QEMU ends (the machine rebooted or switched off); returns the seconds
        since the start."""
        self.child.expect(pexpect.EOF, timeout=timeout)
        self.child.close()
        return time.monotonic() - self.started

    def kill(self):
        if self.child.isalive():
            self.child.terminate(force=True)


def uefi_firmware(disk):
    """Debian's OVMF as the machine's firmware, with a variable store of the disk's own beside
    it (made on first use, so that a machine's boots share it)."""
    variables = disk + ".vars"
    if not os.path.exists(variables):
        shutil.copyfile("/usr/share/OVMF/OVMF_VARS_4M.fd", variables)
    return ["-drive", "if=pflash,format=raw,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd",
            "-drive", f"if=pflash,format=raw,file={variables}"]


def forget_firmware_variables(disk):
    """A new disk starts with the firmware's first variables."""
    if os.path.exists(disk + ".vars"):
        os.remove(disk + ".vars")


def sparse_disk(path, size):
    forget_firmware_variables(path)
    subprocess.run(["truncate", "-s", "0", path], check=True)
    subprocess.run(["truncate", "-s", size, path], check=True)
