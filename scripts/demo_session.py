"""The demo's machine without a person at the keyboard: installs from the CD with every package
marked (keep 'n', continue 'y'), then boots the installed disk alone. The console shows on
standard output. usage: demo_session.py CD_IMAGE DISK_IMAGE"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from machine import Machine  # noqa: E402

cd_image, disk = sys.argv[1:3]
print("demo: booting the CD (the installer starts in about 20 s)", flush=True)
machine = Machine(disk, cdrom=cd_image)
machine.expect("select with 'spacebar'", timeout=300)
machine.send("ai")
machine.expect("Do you want to keep old configuration?")
machine.send("n")
machine.expect("Continue?")
machine.send("y")
machine.expect("Press ENTER to reboot", timeout=900)
machine.send("\r")
print(f"\ndemo: installed after {machine.wait_off():.0f} s; booting the disk alone", flush=True)
machine = Machine(disk)
machine.expect("The installed system is up.", timeout=300)
print(f"\ndemo: the installed system came up after {machine.wait_off():.0f} s", flush=True)
