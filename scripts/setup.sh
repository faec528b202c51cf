#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
# Runs as root on a fresh Debian 12 machine; does nothing when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  zlib1g-dev             # the one library the programs link
  libgtest-dev libgmock-dev
  libssl-dev libsodium-dev  # test-only: independent SHA-1 and X25519 to compare against
  tmux                      # test-only: the terminal emulator that shows the menu screens
  nftables                  # test-only: datagram loss on the install-server tests' veth links
  tftpd-hpa curl            # bench-only: the TFTP transfer install-server is measured against
)

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
