#!/usr/bin/env bash
# The main job, start to end: builds the programs, a sample package set and the installation CD,
# boots a PC under QEMU from the CD onto a fresh disk, where you pick packages in the real menu
# and install; the PC then boots the installed disk alone. Last, what landed on the disk is
# printed, and the package tool's own walk-through follows. The programs come from build/default
# (VELA_BUILD=DIR picks another build directory); the CD goes to build/demo/media, so that the
# demo and the end-to-end tests (whose media are in build/media) never rebuild each other's.
# usage: scripts/demo.sh [--unattended]   (unattended also when there is no terminal)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${VELA_BUILD:-build/default}")
export VELA_BUILD=$build  # part two uses the same programs
unattended=no
if [ "${1:-}" = --unattended ] || [ ! -t 0 ] || [ ! -t 1 ]; then
  unattended=yes
fi
progress() { printf '\n== %s\n' "$*"; }

progress "setting up (Debian packages that building and QEMU need)"
scripts/setup.sh --e2e
progress "building the programs"
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" --target installer vpk
vpk=$build/bin/vpk

work=build/demo
mkdir -p "$work"
progress "building the installation CD (the first run downloads Debian's kernel: a few minutes)"
# The tree of the system package is shared with the end-to-end tests: its inputs are the same.
scripts/mkmedium system
scripts/sample_packages.sh "$work/packages" build/media/system "$vpk"
scripts/mkmedium --out "$work/media" --installer "$build/bin/installer" \
  --packages "$work/packages" cd
disk=$work/disk.img
rm -f "$disk"
# Over 8.4 GB, so the layout gets its separate boot partition; sparse, so it costs little.
truncate -s 8600M "$disk"

qemu() {
  qemu-system-x86_64 -accel tcg -m 512 -no-reboot -display none -vga none -serial mon:stdio \
    -drive "file=$disk,format=raw,if=ide,index=0" "$@"
}
if [ "$unattended" = yes ]; then
  progress "installing from the CD and booting the installed disk (about two minutes)"
  /usr/bin/python3 scripts/demo_session.py "$work/media/vela-cd.iso" "$disk"
else
  progress "booting from the CD: pick packages with the space bar, 'i' installs (Ctrl-A X quits)"
  qemu -drive "file=$work/media/vela-cd.iso,format=raw,if=ide,index=2,media=cdrom" -boot d
  progress "booting the installed disk alone"
  qemu -boot c
fi

progress "the partition table of the installed disk"
sfdisk -d "$disk"
# The root file system is the last partition; mounted read-only through a loop device.
read -r start size < <(sfdisk -d "$disk" | awk -F'[=,]' '/start=/ { s = $2; z = $4 } END { print s + 0, z + 0 }')
tree=$(mktemp -d)
mount -o ro,noatime,loop,offset=$((start * 512)),sizelimit=$((size * 512)) "$disk" "$tree"
trap 'umount "$tree"; rmdir "$tree"' EXIT
progress "the packages installed there (vpk list)"
"$vpk" list --root "$tree"
progress "its lilo.conf"
cat "$tree/etc/lilo.conf"
progress "its fstab"
cat "$tree/etc/fstab"

progress "part two: the package tool at work in a tree of its own"
scripts/demo_packages.sh
