#!/usr/bin/env bash
# The end-to-end suite: builds the programs, the sample packages and the media (each only when
# its inputs changed), then boots the real installer under QEMU for every installation mode.
# Runs as root: the network installation makes its own network namespace and tap device.
# usage: e2e/run.sh [TEST_NAME...]   (names as in e2e/installs.py; all by default)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh --e2e
started=$SECONDS
cmake --preset default >/dev/null
cmake --build --preset default --target installer vpk install-server >/dev/null

work=build/e2e
mkdir -p "$work/run"
scripts/mkmedium system
scripts/sample_packages.sh "$work/packages" build/media/system
printf 'set hostname router\nset interface eth0 dhcp\n' >"$work/autorun.scr"
scripts/mkmedium --packages "$work/packages" --autorun "$work/autorun.scr" cd hdd net
echo "e2e: programs, packages and media ready after $((SECONDS - started)) s"

# Debian's python3 with its pexpect, whatever python3 comes first on the PATH.
status=0
/usr/bin/python3 e2e/installs.py build/media "$work/packages" "$work/autorun.scr" "$work/run" \
  "$@" || status=$?
echo "e2e: finished after $((SECONDS - started)) s; logs in $work/run"
exit "$status"
