#!/usr/bin/env bash
# The package side at work: three signed packages are built, inspected and verified, installed
# into a fresh tree, one is disabled and the tree is listed. The second part of scripts/demo.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${VELA_BUILD:-build/default}")  # the build directory of the programs
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" --target vpk >/dev/null

vpk=$build/bin/vpk
echo
echo "== vpk --help"
"$vpk" --help

tree=$(mktemp -d /tmp/vela-demo.XXXXXX)
trap 'rm -rf "$tree"' EXIT
echo
echo "== a package's life in a tree of its own ($tree)"
scripts/vpk_walkthrough.sh "$tree"

echo
echo "== one package file, inspected and verified"
work=$(mktemp -d)
trap 'rm -rf "$tree" "$work"' EXIT
mkdir -p "$work/tree/etc"
echo "hostname router" >"$work/tree/etc/hostname"
"$vpk" build --name system --version 2.9.5 --depends 'kernel>=2.9' \
  --sign keys/private_key.hex -o "$work/system.vpk" "$work/tree"
"$vpk" inspect "$work/system.vpk"
"$vpk" verify "$work/system.vpk"
