#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
# Runs as root on a fresh Debian 12 machine; does nothing when everything is present.
# usage: scripts/setup.sh [--e2e|--bench]   (the tools of the end-to-end tests and the demo, or
#        those the benchmarks compare against)
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  zlib1g-dev             # the one library the programs link
  libgtest-dev libgmock-dev
  libssl-dev libsodium-dev  # test-only: independent SHA-1 and X25519 to compare against
  tmux                      # test-only: the terminal emulator that shows the menu screens
  nftables                  # test-only: datagram loss on the install-server tests' veth links
  clang libclang-rt-14-dev  # test-only: the libFuzzer targets and their sanitizer runtime
)

# The end-to-end tests and the demo: media are built from Debian's packages, which mkmedium
# fetches and unpacks itself; these tools run on the host.
if [ "${1:-}" = --e2e ]; then
  packages+=(
    qemu-system-x86           # the PC that boots the media (always -accel tcg)
    xorriso                   # the CD image
    mtools dosfstools syslinux  # the FAT image of the hard-disk installation, made bootable
    kmod                      # depmod for the medium's kernel modules
    cpio                      # the initramfs
    fdisk e2fsprogs           # reading the installed disk image back
    python3-pexpect           # drives the serial console
  )
fi

if [ "${1:-}" = --bench ]; then
  packages+=(tftpd-hpa curl)  # the TFTP transfer install-server is measured against
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
