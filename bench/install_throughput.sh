#!/usr/bin/env bash
# Times installing one 64 MiB package (a few thousand files of mixed sizes) with
# `vpk install --root` into a tmpfs, against sha1sum of the package file plus tar -xzf of a
# tar.gz of the same tree into a tmpfs. Prints the best of several runs of each and the ratio
# ours/theirs (goal: at most 1.3).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}
tmpfs=${TMPFS:-/dev/shm}

cmake --preset default >/dev/null
cmake --build --preset default --target bench_install_throughput vpk >/dev/null
program=build/default/bin/bench_install_throughput
vpk=build/default/bin/vpk
out=bench/out/install
if [ ! -f "$out/tree.vpk" ] || [ ! -f "$out/tree.tar.gz" ]; then
  rm -rf "$out"
  mkdir -p "$out"
  "$program" make "$out"
  "$program" pack "$out" keys/private_key.hex
  tar -czf "$out/tree.tar.gz" -C "$out/tree" .
fi

work=$(mktemp -d "$tmpfs/vela-install-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Ours must install what tar unpacks: the same files with the same bytes.
"$vpk" install --root "$work/ours" --system-root "$work" "$out/tree.vpk" >/dev/null
mkdir "$work/theirs"
tar -xzf "$out/tree.tar.gz" -C "$work/theirs"
if ! diff -r -q "$work/ours" "$work/theirs" -x var -x postlog >/dev/null; then
  echo "MISMATCH: the installed tree differs from the unpacked one" >&2
  exit 1
fi

. bench/timing.sh
ours=""
theirs=""
for _ in $(seq "$runs"); do
  rm -rf "$work/ours" "$work/theirs"
  mkdir "$work/theirs"
  start=$(now)
  "$vpk" install --root "$work/ours" --system-root "$work" "$out/tree.vpk" >/dev/null
  ours=$(best "$ours" $(($(now) - start)))
  start=$(now)
  sha1sum "$out/tree.vpk" >/dev/null
  tar -xzf "$out/tree.tar.gz" -C "$work/theirs"
  theirs=$(best "$theirs" $(($(now) - start)))
done

awk -v ours="$ours" -v theirs="$theirs" -v files="$(find "$out/tree" -type f | wc -l)" \
  -v size="$(stat -c %s "$out/tree.vpk")" 'BEGIN {
  printf "install: one package of %d bytes, %d files, 64 MiB unpacked\n", size, files
  printf "ours (vpk install --root on tmpfs):      %.3f s\n", ours / 1e9
  printf "theirs (sha1sum + tar -xzf on tmpfs):    %.3f s\n", theirs / 1e9
  printf "ratio ours/theirs: %.2f (goal <= 1.3)\n", ours / theirs
}'
