#!/usr/bin/env bash
# Times reading a 64 MiB package stream from a pipe through the part reader (hashing on) and the
# inflater, against sha1sum of the same file plus gzip -dc of a gzip file of the same content.
# Prints the best of RUNS runs (5 by default) of each and the ratio ours/theirs (goal: at most
# 0.6). QUICK=1: a 1 MiB stream, one run, no figures.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
runs=${RUNS:-5}
mebibytes=64
out=bench/out
if quick; then
  runs=1
  mebibytes=1
  out=bench/out/quick
fi

build_programs bench_stream_read
program=$bin/bench_stream_read
mkdir -p "$out"
if [ ! -f "$out/stream.vpk" ] || [ ! -f "$out/stream.gz" ]; then
  "$program" make "$out" "$mebibytes"
fi

# The package stream arrives through a pipe, as in the installer child.
# shellcheck disable=SC2002
# Ours must read what the standard tools see: the digest of everything after the 8-byte
# container header, and the whole content.
read -r ourDigest ourSize < <(cat "$out/stream.vpk" | "$program" read)
theirDigest=$(tail -c +9 "$out/stream.vpk" | sha1sum | cut -d' ' -f1)
theirSize=$(gzip -dc "$out/stream.gz" | wc -c)
if [ "$ourDigest" != "$theirDigest" ] || [ "$ourSize" != "$theirSize" ] ||
  [ "$ourSize" != $((mebibytes << 20)) ]; then
  echo "MISMATCH: ours $ourDigest $ourSize, theirs $theirDigest $theirSize" >&2
  exit 1
fi

ours=""
theirs=""
for _ in $(seq "$runs"); do
  start=$(now)
  # shellcheck disable=SC2002
  cat "$out/stream.vpk" | "$program" read >/dev/null
  ours=$(best "$ours" $(($(now) - start)))
  start=$(now)
  sha1sum "$out/stream.vpk" >/dev/null
  gzip -dc "$out/stream.gz" >/dev/null
  theirs=$(best "$theirs" $(($(now) - start)))
done

if quick; then
  quick_passed "the part reader's digest and inflated size of a ${mebibytes} MiB stream match sha1sum's and gzip's"
  exit 0
fi
awk -v ours="$ours" -v theirs="$theirs" -v size="$(stat -c %s "$out/stream.vpk")" \
  -v mebibytes="$mebibytes" 'BEGIN {
  printf "stream read: %d bytes compressed, %d MiB inflated\n", size, mebibytes
  printf "ours (pipe, part reader with SHA-1, inflate): %.3f s\n", ours / 1e9
  printf "theirs (sha1sum + gzip -dc):                  %.3f s\n", theirs / 1e9
  printf "ratio ours/theirs: %.2f (goal <= 0.6)\n", ours / theirs
}'
