"""End-to-end installations: the real installer boots under QEMU from the CD and the hard-disk
media and over the network, installs on an IDE disk image, and the host checks what landed; then
the disk boots by itself. usage: installs.py MEDIA_DIR PACKAGES_DIR AUTORUN_FILE WORK_DIR [TEST...]"""

import os
import shutil
import subprocess
import sys
import time
import traceback

import disk_image
from machine import Machine, forget_firmware_variables, sparse_disk

MEDIA, PACKAGES, AUTORUN, WORK = sys.argv[1:5]
# The bundle "extras" brings its members firewall and vpn along.
ALL_PACKAGES = ["advanced-tools", "dhcp", "extras", "firewall", "ppp", "system", "vpn"]
BIG_DISK = os.path.join(WORK, "cd-disk.img")  # more than 1023 cylinders: a boot partition
PROGRAMS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build/default/bin")
TEST_KEY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "keys/private_key.hex")
NET_NAMESPACE, TAP = "vela-e2e-net", "vela-tap0"


def log_file(name):
    return open(os.path.join(WORK, name + ".log"), "w", encoding="latin-1")


def install_from_cd(disk, keep, keys, bus="ide", log_name=None, expect=(), firmware="bios"):
    """Boots the CD, picks packages with the menu keys, answers the keep question, confirms;
    `expect` are lines the installation must show on its way."""
    machine = Machine(disk, cdrom=os.path.join(MEDIA, "vela-cd.iso"),
                      log=log_file(log_name or f"cd-keep-{keep}"), bus=bus, firmware=firmware)
    try:
        machine.expect("select with 'spacebar'", timeout=240)
        machine.send(keys + "i")
        machine.expect("Do you want to keep old configuration?")
        machine.send(keep)
        machine.expect("Continue?")
        machine.send("y")
        for line in expect:
            machine.expect(line, timeout=120)
        machine.expect("Software installed.", timeout=900)
        machine.expect("Press ENTER to reboot")
        machine.send("\r")
        machine.expect("Rebooting...")
        return machine.wait_off(timeout=60)
    finally:
        machine.kill()


def boot_installed(disk, name, bus="ide", firmware="bios"):
    """The disk alone boots into the sample system, which shows its first screen and switches
    the machine off; returns that screen."""
    machine = Machine(disk, log=log_file(name), bus=bus, firmware=firmware)
    try:
        machine.expect("Vela router system", timeout=240)
        machine.expect("The installed system is up.", timeout=60)
        screen = machine.child.before
        machine.wait_off(timeout=60)
        return screen
    finally:
        machine.kill()


def check_installed_disk(image, packages, boot_partition, device="/dev/sda", efi=False):
    table = disk_image.partitions(image)
    assert table == disk_image.expected_partitions(image, efi), table
    for partition in table:
        clean, output = disk_image.file_system_clean(image, partition)
        assert clean, output
    root = table[1 if boot_partition else 0]
    with disk_image.mounted(image, root) as tree:
        assert sorted(os.listdir(os.path.join(tree, "var/pdb"))) == packages
        assert disk_image.read(tree, "etc/lilo.conf") == disk_image.lilo_conf(device,
                                                                             boot_partition)
        assert disk_image.read(tree, "etc/fstab") == disk_image.fstab(device, boot_partition, efi)
        for path in ["sbin/init", "bin/bash", "etc/rc.d/rc.postinstall"]:
            assert os.path.isfile(os.path.join(tree, path)), path
        for name in ["ppp", "vpn"]:
            installed = os.path.isfile(os.path.join(tree, f"etc/{name}/version"))
            assert installed == (name in packages), name
    with disk_image.mounted(image, table[0]) as boot:
        prefix = "" if boot_partition else "boot/"
        loader = [] if efi else ["extlinux.conf", "ldlinux.sys"]
        for name in ["vmlinuz", "initrd.img"] + loader:
            assert os.path.isfile(os.path.join(boot, prefix + name)), name
    if efi:
        # Read with mtools: the host need not mount FAT.
        listing = subprocess.run(["mdir", "-b", "-/", "-i",
                                  f"{image}@@{table[-1][0] * disk_image.SECTOR}", "::"],
                                 check=True, capture_output=True, text=True).stdout
        for name in ["EFI/BOOT/BOOTX64.EFI", "vela/vmlinuz", "vela/initrd.img",
                     "loader/entries/vela.conf"]:
            assert f"::/{name}" in listing, listing


def test_cd_install_on_a_disk_of_more_than_1023_cylinders():
    sparse_disk(BIG_DISK, "8600M")
    # 'a' marks everything, then the cursor moves to extras (third column) and unmarks it.
    install_from_cd(BIG_DISK, "n", "a\x1b[C\x1b[C ")
    packages = ["advanced-tools", "dhcp", "ppp", "system"]
    check_installed_disk(BIG_DISK, packages, boot_partition=True)
    screen = boot_installed(BIG_DISK, "cd-boot")
    assert "root file system: /dev/sda2" in screen, screen
    assert "installed packages: " + " ".join(packages) in screen, screen


def seed_store(tree):
    """An old configuration store of several owners, modes and times."""
    store = os.path.join(tree, "vela/store")
    os.makedirs(os.path.join(store, "net/ifaces"))
    entries = [("net", 0o750, 0, 100), ("net/ifaces", 0o700, 1000, 1000),
               ("net/ifaces/eth0", 0o640, 1000, 100), ("hostname", 0o644, 0, 0),
               ("secret", 0o600, 33, 33)]
    for path, mode, uid, gid in entries:
        full = os.path.join(store, path)
        if not os.path.isdir(full):
            with open(full, "wb") as file:
                file.write(bytes(range(256)) * 70 + path.encode())  # larger than one chunk
        os.chown(full, uid, gid)
        os.chmod(full, mode)
    for index, (path, *_rest) in enumerate(reversed(entries)):
        os.utime(os.path.join(store, path), (1600000000 + index, 1500000000 + index))
    os.utime(store, (1600000100, 1500000100))
    return disk_image.tree_state(store)


def reinstall_keeps_the_store(disk, boot_partition, efi=False, **machine):
    """Installs again, keeping the configuration, over the disk an earlier test installed; its
    old store comes through byte-exact."""
    if not os.path.exists(disk):
        raise AssertionError("needs the disk of the earlier installation")
    root = disk_image.partitions(disk)[1 if boot_partition else 0]
    with disk_image.mounted(disk, root, writable=True) as tree:
        before = seed_store(tree)
    install_from_cd(disk, "y", "", **machine)
    check_installed_disk(disk, ["system"], boot_partition, efi=efi)
    with disk_image.mounted(disk, root) as tree:
        after = disk_image.tree_state(os.path.join(tree, "vela/store"))
    assert after == before, (sorted(before.items())[:2], sorted(after.items())[:2])


def test_reinstall_keeps_the_old_store_byte_exact():
    reinstall_keeps_the_store(BIG_DISK, boot_partition=True)


def matrix_test(bus, device, size="2G", expect=()):
    """A test that installs the default packages from the CD on a blank sparse disk of `size` on
    the controller `bus`, where the installed system sees it as `device`, and boots that disk
    alone; `expect` are lines the installation must show."""
    def test():
        disk = os.path.join(WORK, f"{bus}-{size}-disk.img")
        sparse_disk(disk, size)
        install_from_cd(disk, "n", "", bus=bus, log_name=f"cd-{bus}-{size}", expect=expect)
        boot_partition = len(disk_image.partitions(disk)) == 2
        check_installed_disk(disk, ["system"], boot_partition, device)
        screen = boot_installed(disk, f"cd-{bus}-{size}-boot", bus=bus)
        root = disk_image.partition_device(device, 2 if boot_partition else 1)
        assert f"root file system: {root}" in screen, screen
        os.remove(disk)  # kept for a look when the test fails
    test.__name__ = f"test_cd_install_on_{bus}_{size}_and_boot_alone"
    return test


UEFI_DISK = os.path.join(WORK, "uefi-disk.img")


def test_cd_install_on_uefi_and_boot_alone():
    """Under OVMF: the CD boots through its EFI image, the installer adds an EFI system partition
    and the disk boots alone through the boot manager there."""
    sparse_disk(UEFI_DISK, "2G")
    install_from_cd(UEFI_DISK, "n", "", bus="ahci", log_name="cd-uefi", firmware="uefi")
    check_installed_disk(UEFI_DISK, ["system"], False, efi=True)
    screen = boot_installed(UEFI_DISK, "cd-uefi-boot", bus="ahci", firmware="uefi")
    assert "root file system: /dev/sda1" in screen, screen


def test_reinstall_on_uefi_keeps_the_old_store_byte_exact():
    reinstall_keeps_the_store(UEFI_DISK, False, efi=True, bus="ahci", log_name="cd-uefi-keep",
                              firmware="uefi")
    os.remove(UEFI_DISK)


def hard_disk_install(bus="ide", device="/dev/sda", firmware="bios"):
    """The hard-disk medium installs on the disk it is on, attached to the controller `bus`."""
    disk = os.path.join(WORK, f"hdd-{bus}-{firmware}-disk.img")
    forget_firmware_variables(disk)
    shutil.copyfile(os.path.join(MEDIA, "vela-hdd.img"), disk)
    machine = Machine(disk, log=log_file(f"hdd-{bus}-{firmware}"), bus=bus, firmware=firmware)
    try:
        machine.expect("hard disk installation", timeout=240)
        machine.expect("Software installed.", timeout=600)
        machine.expect("Rebooting...", timeout=60)  # no question, no ENTER
        machine.wait_off(timeout=60)
    finally:
        machine.kill()
    mbr = subprocess.run(["mcopy", "-i", os.path.join(MEDIA, "vela-hdd.img"), "::mbr", "-"],
                         check=True, capture_output=True).stdout
    with open(disk, "rb") as file:
        record = file.read(512)
    # The partitioning tool writes its disk signature and the table behind the boot program.
    assert record[:440] == mbr[:440] and record[510:] == mbr[510:]
    check_installed_disk(disk, ALL_PACKAGES, boot_partition=False, device=device,
                         efi=firmware == "uefi")
    with disk_image.mounted(disk, disk_image.partitions(disk)[0]) as tree:
        with open(AUTORUN, encoding="latin-1") as file:
            assert disk_image.read(tree, "rw/autorun.scr") == file.read()
    screen = boot_installed(disk, f"hdd-{bus}-{firmware}-boot", bus=bus, firmware=firmware)
    assert f"root file system: {disk_image.partition_device(device, 1)}" in screen, screen


def test_hard_disk_install_on_a_disk_of_at_most_1023_cylinders():
    hard_disk_install()


def test_hard_disk_install_on_nvme():
    hard_disk_install("nvme", "/dev/nvme0n1")


def test_hard_disk_install_on_uefi():
    hard_disk_install("ahci", firmware="uefi")


def serve_directory(directory):
    """The installation server's directory: the driver package for the medium's kernel (the
    modules of the installer's lists, which the netboot initramfs lacks), some sample packages
    and a configuration script, all sent by the default profile."""
    drivers = os.path.join(MEDIA, "vela-net-drivers")
    release = os.listdir(os.path.join(drivers, "lib/modules"))[0]
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(os.path.join(directory, "drivers"))
    subprocess.run([os.path.join(PROGRAMS, "vpk"), "build", "--name", "drivers", "--version",
                    "1.0", "--description", "Disk and USB drivers", "--owner", "0:0", "--sign",
                    TEST_KEY, "-o", os.path.join(directory, "drivers", release + ".vpk"), drivers],
                   check=True, capture_output=True)
    shutil.copytree(PACKAGES, os.path.join(directory, "packages"))
    shutil.copyfile(AUTORUN, os.path.join(directory, "packages/site.scr"))
    with open(os.path.join(directory, "profiles"), "w", encoding="latin-1") as file:
        file.write("profile default erase system.vpk ppp.vpk dhcp.vpk site.scr\n")


def make_tap_namespace():
    subprocess.run(["ip", "netns", "delete", NET_NAMESPACE], capture_output=True)
    for command in [["ip", "netns", "add", NET_NAMESPACE],
                    ["ip", "-n", NET_NAMESPACE, "tuntap", "add", "dev", TAP, "mode", "tap"],
                    ["ip", "-n", NET_NAMESPACE, "link", "set", TAP, "up"]]:
        subprocess.run(command, check=True)


def wait_for_line(path, text, timeout):
    """True once the file holds the text, polled until the timeout."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(path, encoding="latin-1") as file:
            if text in file.read():
                return True
        time.sleep(0.5)
    return False


def install_from_network(disk, server_log, bus):
    """Netboots the installer on a card whose only peer is install-server; ENTER ends the
    installation once the server has logged the farewell."""
    machine = Machine(disk, log=log_file(f"net-{bus}"), tap=(NET_NAMESPACE, TAP), bus=bus,
                      netboot=(os.path.join(MEDIA, "vela-net.vmlinuz"),
                               os.path.join(MEDIA, "vela-net.initrd")))
    try:
        machine.expect("Retrieving drivers...", timeout=240)
        machine.expect("Found server at ", timeout=120)
        machine.expect("Software installed.", timeout=600)
        machine.expect("Press ENTER to reboot")
        assert wait_for_line(server_log, "finished:", 30), "the server logged no farewell"
        machine.send("\r")
        machine.expect("Rebooting...")
        machine.wait_off(timeout=60)
    finally:
        machine.kill()


def network_install(bus="ide", device="/dev/sda"):
    """A netbooted installer installs on a blank disk attached to the controller `bus`."""
    disk = os.path.join(WORK, f"net-{bus}-disk.img")
    sparse_disk(disk, "2G")
    served = os.path.join(WORK, "served")
    serve_directory(served)
    server_log = os.path.join(WORK, "install-server.log")
    make_tap_namespace()
    with open(server_log, "w", encoding="latin-1") as log:
        server = subprocess.Popen(["ip", "netns", "exec", NET_NAMESPACE,
                                   os.path.join(PROGRAMS, "install-server"), "--directory",
                                   served, "--interface", TAP, "--no-default-drivers",
                                   "--profiles",
                                   os.path.join(served, "profiles")],
                                  stdout=log, stderr=subprocess.STDOUT)
    try:
        time.sleep(1)
        if server.poll() is not None:
            with open(server_log, encoding="latin-1") as file:
                raise AssertionError("install-server did not start: " + file.read())
        install_from_network(disk, server_log, bus)
    finally:
        server.terminate()
        server.wait()
        subprocess.run(["ip", "netns", "delete", NET_NAMESPACE], check=False)
    with open(server_log, encoding="latin-1") as file:
        assert "finished: profile default, 4 files" in file.read(), server_log
    packages = ["dhcp", "ppp", "system"]
    check_installed_disk(disk, packages, boot_partition=False, device=device)
    with disk_image.mounted(disk, disk_image.partitions(disk)[0]) as tree:
        with open(AUTORUN, encoding="latin-1") as file:
            assert disk_image.read(tree, "site.scr") == file.read()
        assert os.path.isfile(os.path.join(tree, "CDINSTALL"))
        assert not os.path.exists(os.path.join(tree, "lib/modules"))  # the drivers stay outside
    screen = boot_installed(disk, f"net-{bus}-boot", bus=bus)
    assert "installed packages: " + " ".join(packages) in screen, screen


def test_network_install_on_a_blank_disk():
    network_install()


def test_network_install_on_nvme():
    network_install("nvme", "/dev/nvme0n1")


TESTS = [test_cd_install_on_a_disk_of_more_than_1023_cylinders,
         test_reinstall_keeps_the_old_store_byte_exact,
         test_hard_disk_install_on_a_disk_of_at_most_1023_cylinders,
         test_network_install_on_a_blank_disk,
         # Today's controllers, with the default package set to keep the run short.
         matrix_test("ahci", "/dev/sda"),
         matrix_test("nvme", "/dev/nvme0n1"),
         matrix_test("virtio", "/dev/vda"),
         matrix_test("usb3", "/dev/sda"),
         # Beyond what the partition table reaches: installed on the first 2 TiB.
         matrix_test("ide", "/dev/sda", "3T",
                     ["WARNING: the partition table reaches only the first 2 TiB"]),
         test_hard_disk_install_on_nvme,
         test_cd_install_on_uefi_and_boot_alone,
         test_reinstall_on_uefi_keeps_the_old_store_byte_exact,
         test_hard_disk_install_on_uefi,
         test_network_install_on_nvme]


def main():
    passed = failed = 0
    for test in TESTS:
        if len(sys.argv) > 5 and test.__name__ not in sys.argv[5:]:
            continue
        started = time.monotonic()
        try:
            test()
            passed += 1
            verdict = "ok"
        except Exception:  # a failed check or a machine that did not answer in time
            failed += 1
            verdict = "FAILED\n" + traceback.format_exc()
        print(f"e2e: {test.__name__}: {verdict} ({time.monotonic() - started:.0f} s)", flush=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
