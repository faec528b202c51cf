#!/usr/bin/env bash
# Times installing one 64 MiB package (a few thousand files of mixed sizes) with
# `vpk install --root` into a tmpfs, against sha1sum of the package file plus tar -xzf of a
# tar.gz of the same tree into a tmpfs. Prints the best of RUNS runs (5 by default) of each and
# the ratio ours/theirs (goal: at most 0.6, and 250 MB/s unpacked). TMPFS=DIR (default /dev/shm) is where both unpack.
# QUICK=1: a 2 MiB package, one run, no figures.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
runs=${RUNS:-5}
tmpfs=${TMPFS:-/dev/shm}
mebibytes=64
out=bench/out/install
if quick; then
  runs=1
  mebibytes=2
  out=bench/out/quick/install
fi

build_programs bench_install_throughput vpk
program=$bin/bench_install_throughput
vpk=$bin/vpk
if [ ! -f "$out/tree.vpk" ] || [ ! -f "$out/tree.tar.gz" ]; then
  rm -rf "$out"
  mkdir -p "$out"
  "$program" make "$out" "$mebibytes" >/dev/null
  "$program" pack "$out" keys/private_key.hex
  tar -czf "$out/tree.tar.gz" -C "$out/tree" .
fi

work=$(mktemp -d "$tmpfs/vela-install-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# vpk installs only into a tree that exists; each run starts from an empty one.
fresh_trees() {
  rm -rf "$work/ours" "$work/theirs"
  mkdir "$work/ours" "$work/theirs"
}

# Ours must install what tar unpacks: the same files with the same bytes.
fresh_trees
"$vpk" install --root "$work/ours" --system-root "$work" "$out/tree.vpk" >/dev/null
tar -xzf "$out/tree.tar.gz" -C "$work/theirs"
if ! diff -r -q "$work/ours" "$work/theirs" -x var -x postlog >/dev/null; then
  echo "MISMATCH: the installed tree differs from the unpacked one" >&2
  exit 1
fi

ours=""
theirs=""
for _ in $(seq "$runs"); do
  fresh_trees
  start=$(now)
  "$vpk" install --root "$work/ours" --system-root "$work" "$out/tree.vpk" >/dev/null
  ours=$(best "$ours" $(($(now) - start)))
  start=$(now)
  sha1sum "$out/tree.vpk" >/dev/null
  tar -xzf "$out/tree.tar.gz" -C "$work/theirs"
  theirs=$(best "$theirs" $(($(now) - start)))
done

files=$(find "$out/tree" -type f | wc -l)
if quick; then
  quick_passed "vpk installed the $files files of a ${mebibytes} MiB package as tar unpacks them"
  exit 0
fi
awk -v ours="$ours" -v theirs="$theirs" -v files="$files" -v mebibytes="$mebibytes" \
  -v size="$(stat -c %s "$out/tree.vpk")" 'BEGIN {
  printf "install: one package of %d bytes, %d files, %d MiB unpacked\n", size, files, mebibytes
  printf "ours (vpk install --root on tmpfs):      %.3f s\n", ours / 1e9
  printf "theirs (sha1sum + tar -xzf on tmpfs):    %.3f s\n", theirs / 1e9
  printf "ratio ours/theirs: %.2f (goal <= 0.6)\n", ours / theirs
  printf "ours unpacked:     %.0f MB/s (goal >= 250)\n", mebibytes * 1048576 / (ours / 1e9) / 1e6
}'
