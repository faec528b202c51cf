#!/usr/bin/env bash
# Builds the sample package set of the demo and the end-to-end tests into OUT: "system" (the
# tree that `scripts/mkmedium system` made: kernel, tiny init, boot loader), "ppp", "dhcp",
# "advanced-tools" and the bundle "extras". Signed with the test key; fixed build times keep the
# files identical from run to run, so media built from them stay cached.
# usage: scripts/sample_packages.sh OUT SYSTEM_TREE [VPK]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$1
system_tree=$2
vpk=${3:-$top/build/default/bin/vpk}
key=$top/keys/private_key.hex
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A package of a small tree: NAME VERSION DESCRIPTION [vpk build options]...
small_package() {
  local name=$1 version=$2 description=$3
  shift 3
  mkdir -p "$work/$name/etc/$name"
  echo "$name $version" >"$work/$name/etc/$name/version"
  touch -d @1700000000 "$work/$name/etc/$name/version" "$work/$name/etc/$name" "$work/$name/etc" \
    "$work/$name"
  "$vpk" build --name "$name" --version "$version" --description "$description" \
    --build-time 1700000000 --owner 0:0 --sign "$key" -o "$work/$name.vpk" "$@" "$work/$name" \
    >/dev/null
}

rm -rf "$out"
mkdir -p "$out"
"$vpk" build --name system --version 1.0 --build-time 1700000000 --owner 0:0 \
  --description "Kernel, init and boot loader of the router" --sign "$key" \
  -o "$out/system.vpk" "$system_tree" >/dev/null
small_package ppp 2.4 "Dial-up links" --depends system
small_package dhcp 4.1 "Addresses for the local network" --depends system
small_package advanced-tools 1.2 "Diagnostics for the expert" --depends 'ppp>=2.0'
small_package firewall 1.0 "Packet filter" --depends system
small_package vpn 1.0 "Tunnels to other sites" --depends system
"$vpk" build-bundle --name extras --version 1.0 --build-time 1700000000 \
  --description "Firewall and tunnels" -o "$out/extras.vpk" "$work/firewall.vpk" "$work/vpn.vpk" \
  >/dev/null
mv "$work/ppp.vpk" "$work/dhcp.vpk" "$work/advanced-tools.vpk" "$out/"
