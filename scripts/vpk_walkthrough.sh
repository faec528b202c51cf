#!/usr/bin/env bash
# A first look at vpk: builds three packages that depend on one another, installs them into a
# fresh tree, disables one and lists the tree. Usage: scripts/vpk_walkthrough.sh [TREE]
# (default /tmp/x; made afresh, since vpk works only in a tree that exists). The packages are
# signed with the test key of keys/, which the programs of a default build accept. The programs
# come from build/default, or the build directory that VELA_BUILD names.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-/tmp/x}

if [ -e "$root" ] && [ ! -d "$root/var/pdb" ] && [ -n "$(ls -A "$root")" ]; then
  echo "$root exists and is no package tree; name another one" >&2
  exit 1
fi
rm -rf "$root"

build=$(realpath -m "${VELA_BUILD:-build/default}")
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" --target vpk >/dev/null
vpk=$build/bin/vpk
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/base/etc" "$work/net/usr/sbin" "$work/web/srv/www"
echo "hostname router" >"$work/base/etc/base.conf"
printf '#!/bin/sh\necho net daemon\n' >"$work/net/usr/sbin/netd"
chmod 755 "$work/net/usr/sbin/netd"
echo "<h1>router</h1>" >"$work/web/srv/www/index.html"

# Shows a command and runs it. The reporter redraws its progress line in place; what stays on a
# terminal is the text after the last carriage return of each line.
step() {
  printf '\n$ %s\n' "${*#"$PWD/"}"
  "$@" | sed 's/\x1b\[?25[lh]//g' | awk -F'\r' '$NF !~ /^ *$/ { print $NF }'
}

step "$vpk" build --name base --version 1.0 --sign keys/private_key.hex -o "$work/base.vpk" \
  "$work/base"
step "$vpk" build --name net --version 2.1 --depends 'base>=1.0' --sign keys/private_key.hex \
  -o "$work/net.vpk" "$work/net"
step "$vpk" build --name web --version 0.9 --depends net --sign keys/private_key.hex \
  -o "$work/web.vpk" "$work/web"
# vpk refuses a --root that does not exist, so that a mistyped one grows no stray tree.
step mkdir "$root"
step "$vpk" install --root "$root" "$work/base.vpk" "$work/net.vpk" "$work/web.vpk"
# net needs base, so the dependency rules refuse this request.
step "$vpk" disable --root "$root" base || echo "(refused: exit status $?)"
step "$vpk" disable --root "$root" web
step "$vpk" list --root "$root"
step find "$root" -path "$root/var" -prune -o -type f -print
