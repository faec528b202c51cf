#!/usr/bin/env bash
# Builds the fuzz targets (clang, preset fuzz) and runs each for SECONDS (default 60, as CI does),
# as many at once as there are processors, on a copy of its seed corpus, which
# tests/fuzz/make_corpus.sh makes with the fuzz build's vpk. A crash is kept as a reproducer
# under build/fuzz-findings/<target>/ (outside git) and makes the script exit 1;
# once fixed, the reproducer goes to tests/fuzz/regressions/<target>/, which `ctest --preset fuzz`
# replays.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_targets
bin=build/fuzz/bin
seeds=build/fuzz/fuzz-seeds
tests/fuzz/make_corpus.sh "$bin/vpk" "$seeds" >/dev/null
findings=$PWD/build/fuzz-findings
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for program in "$bin"/*_fuzz; do
    name=$(basename "$program")
    targets+=("${name%_fuzz}")
  done
fi

# One target: its corpus copied in, the run, and its last status line; exit 1 on a finding.
run_target() {
  local target=$1 corpus=build/fuzz-corpus/$1
  mkdir -p "$corpus" "$findings/$target"
  if [ -d "$seeds/$target" ]; then
    cp -n "$seeds/$target"/* "$corpus"/
  fi
  local failed=0
  # stdout closed: the package code's reports would only slow the run down.
  "$bin/${target}_fuzz" -max_total_time="$seconds" -close_fd_mask=1 \
    -max_len=16384 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/$target/" "$corpus" 2>"$findings/$target/log" || failed=1
  # The last status line carries the coverage (cov:), then the speed.
  echo "== $target ($seconds s): $(grep -E '^#[0-9]+' "$findings/$target/log" | tail -n 1)"
  if [ "$failed" = 1 ]; then
    echo "$target: finding kept in $findings/$target/ (log: $findings/$target/log)"
  fi
  return "$failed"
}

# As many targets at once as there are processors.
status=0
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
# Scratch directories of runs that ended in a crash are left behind by the target.
rm -rf /tmp/vela-fuzz-*
exit "$status"
