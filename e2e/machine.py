"""A PC under QEMU whose first serial port is the console, driven with pexpect."""

import subprocess
import sys
import time

import pexpect


class Machine:
    """Boots QEMU (always -accel tcg: KVM hangs on these machines) with an IDE disk and,
    optionally, an IDE CD, or a kernel and initramfs given directly (netboot) with a network card
    on a tap device inside a network namespace; -no-reboot makes the installer's reboot end QEMU."""

    def __init__(self, disk, cdrom=None, log=None, memory="512", netboot=None, tap=None):
        command = ["qemu-system-x86_64", "-accel", "tcg", "-m", memory, "-no-reboot",
                   "-display", "none", "-vga", "none", "-serial", "stdio", "-monitor", "none",
                   "-drive", f"file={disk},format=raw,if=ide,index=0"]
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
            command += ["-drive", f"file={cdrom},format=raw,if=ide,index=2,media=cdrom",
                        "-boot", "d"]
        else:
            command += ["-boot", "c"]
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


def sparse_disk(path, size):
    subprocess.run(["truncate", "-s", "0", path], check=True)
    subprocess.run(["truncate", "-s", size, path], check=True)
