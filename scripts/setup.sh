#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
# Runs as root on a fresh Debian 12 machine; does nothing when everything is present.
# usage: scripts/setup.sh [--e2e] [--bench]   (the tools of the end-to-end tests and the demo;
#        those the benchmarks compare against)
set -euo pipefail
e2e=no
bench=no
for argument in "$@"; do
  case $argument in
    --e2e) e2e=yes ;;
    --bench) bench=yes ;;
    *) echo "setup: unknown argument $argument (usage: setup.sh [--e2e] [--bench])" >&2; exit 2 ;;
  esac
done

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
if [ "$e2e" = yes ]; then
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

if [ "$bench" = yes ]; then
  packages+=(tftpd-hpa curl)  # the TFTP transfer install-server is measured against
  packages+=(iproute2)        # the benchmark's network namespaces and veth link
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
  # The benchmark starts its own TFTP server inside its namespaces; the one that the package
  # starts would answer on the machine's own network.
  if [[ " ${missing[*]} " = *" tftpd-hpa "* ]]; then
    echo "setup: stopping and disabling the tftpd-hpa service (the benchmark runs its own)"
    if [ -d /run/systemd/system ]; then
      systemctl disable --now tftpd-hpa
    else
      update-rc.d tftpd-hpa disable >/dev/null
      service tftpd-hpa stop >/dev/null || true  # not running is what we want
    fi
  fi
fi
