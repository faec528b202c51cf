#!/usr/bin/env bash
# The whole test suite: the unit and sandbox tests in the ordinary build and the sanitizer build,
# the fuzz targets (their committed inputs replayed, then 60 s of fuzzing each), the end-to-end
# installations under QEMU (e2e/run.sh), the demo as a new user runs it (unattended), and one
# quick run of every benchmark (bench/*.sh with QUICK=1), each on the programs of build/default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --e2e --bench
unset VELA_BUILD  # the demo and the benchmarks use build/default, which is built here

werror=OFF
if [ "${CI:-}" = true ]; then
  werror=ON
fi

# Lines that the demo's output must hold (carriage returns of the serial console removed): the
# first screen of the installed disk, and the package table of its tree from `vpk list`.
demo_lines=(
  "Vela router system"
  "installed packages: advanced-tools dhcp extras firewall ppp system vpn"
  "Welcome. The installed system is up."
  "== the packages installed there (vpk list)"
  "            Name           Version                     Built"
  "  advanced-tools               1.2      Nov/14/2023 22:13:20"
  "            dhcp               4.1      Nov/14/2023 22:13:20"
  "          extras               1.0      Nov/14/2023 22:13:20"
  "        firewall               1.0      Nov/14/2023 22:13:20"
  "             ppp               2.4      Nov/14/2023 22:13:20"
  "          system               1.0      Nov/14/2023 22:13:20"
  "             vpn               1.0      Nov/14/2023 22:13:20"
)

# The demo, after e2e/ so that Debian's kernel and the tree of the system package are cached;
# false when it fails or its output lacks one of demo_lines.
run_demo() {
  local log=build/demo/demo.log status=0 line
  mkdir -p build/demo
  bash scripts/demo.sh --unattended </dev/null 2>&1 | tee "$log" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "test: the demo failed with exit status $status (its output: $log)" >&2
    return 1
  fi
  tr -d '\r' <"$log" >"$log.text"
  for line in "${demo_lines[@]}"; do
    if ! grep -qF -- "$line" "$log.text"; then
      echo "test: the demo's output ($log) lacks the line '$line'" >&2
      status=1
    fi
  done
  if [ "$status" -eq 0 ]; then
    echo "test: the demo showed the installed system's first screen and its package table"
  fi
  return "$status"
}

status=0
for preset in default sanitize; do
  echo "== $preset build"
  cmake --preset "$preset" -DVELA_WERROR="$werror" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)" || status=1
done
echo "== fuzz targets"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz || status=1
bash scripts/fuzz.sh 60 || status=1
echo "== end-to-end installations"
bash e2e/run.sh || status=1
echo "== the demo, unattended"
started=$SECONDS
run_demo || status=1
echo "test: the demo took $((SECONDS - started)) s"
echo "== the benchmarks, one quick run each (checks only; their figures would mean nothing)"
for bench in bench/*.sh; do
  [ "$bench" = bench/common.sh ] && continue
  started=$SECONDS
  if QUICK=1 bash "$bench"; then
    echo "test: $bench took $((SECONDS - started)) s"
  else
    echo "test: $bench failed" >&2
    status=1
  fi
done
exit "$status"
