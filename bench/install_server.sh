#!/usr/bin/env bash
# install-server over a veth link between two network namespaces made here:
#  1. one 64 MiB package fetched by one router (install-load, written to tmpfs), against TFTP
#     (tftpd-hpa serving the same file to curl with 4096-byte blocks) on the same link; MB/s of
#     the best of several runs of each and the ratio ours/theirs;
#  2. 50 routers fetching the same 16 MiB set at once from one server: total throughput, and
#     the slowest router's time against the mean.
# Needs root, iproute2, tftpd-hpa and curl (`scripts/setup.sh --bench` installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --bench
runs=${RUNS:-3}
tmpfs=${TMPFS:-/dev/shm}

cmake --preset default >/dev/null
cmake --build --preset default --target install-server install-load >/dev/null
server=$PWD/build/default/bin/install-server
load=$PWD/build/default/bin/install-load

tag=$$
left=vb$tag-a
right=vb$tag-b
work=$(mktemp -d "$tmpfs/vela-server-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns delete "$left" 2>/dev/null || true
  ip netns delete "$right" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$left"
ip netns add "$right"
ip -n "$left" link add eth0 type veth peer name eth0 netns "$right"
ip -n "$left" addr add 10.213.0.1/24 dev eth0
ip -n "$right" addr add 10.213.0.2/24 dev eth0
for space in "$left" "$right"; do
  ip -n "$space" link set eth0 up
  ip -n "$space" link set lo up
done

mkdir -p "$work/served/drivers" "$work/served/packages" "$work/out"
head -c $((64 << 20)) /dev/urandom >"$work/served/packages/big.vpk"
head -c 4096 /dev/urandom >"$work/served/drivers/default.vpk"
for part in 1 2 3 4; do
  head -c $((4 << 20)) /dev/urandom >"$work/served/packages/set$part.vpk"
done
cat >"$work/profiles" <<'PROFILES'
profile default erase big.vpk
profile fleet erase set1.vpk set2.vpk set3.vpk set4.vpk
PROFILES
# Routers 02:00:00:00:01:01 and up fetch the 16 MiB set.
for i in $(seq 1 50); do
  printf 'router 02:00:00:00:01:%02X fleet\n' "$i" >>"$work/profiles"
done

ip netns exec "$left" "$server" --directory "$work/served" --profiles "$work/profiles" \
  --interface eth0 >"$work/server.log" &
pids+=($!)
ip netns exec "$left" /usr/sbin/in.tftpd -L -s "$work/served/packages" -a 10.213.0.1:69 &
pids+=($!)
sleep 0.5

. bench/timing.sh
ours=""
theirs=""
for _ in $(seq "$runs"); do
  rm -rf "$work/out"/*
  start=$(now)
  ip netns exec "$right" "$load" --interface eth0 --output "$work/out" >/dev/null
  ours=$(best "$ours" $(($(now) - start)))
  cmp "$work/out/02:00:00:00:00:01/big.vpk" "$work/served/packages/big.vpk"
  rm -f "$work/out/tftp.vpk"
  start=$(now)
  ip netns exec "$right" curl -s --tftp-blksize 4096 -o "$work/out/tftp.vpk" \
    tftp://10.213.0.1/big.vpk
  theirs=$(best "$theirs" $(($(now) - start)))
  cmp "$work/out/tftp.vpk" "$work/served/packages/big.vpk"
done

awk -v ours="$ours" -v theirs="$theirs" -v size=$((64 << 20)) 'BEGIN {
  printf "one 64 MiB package over veth to tmpfs, best of runs:\n"
  printf "ours (install-server to install-load, 4076-byte payloads):  %.1f MB/s (%.3f s)\n", size / ours * 1e3, ours / 1e9
  printf "theirs (tftpd-hpa to curl, 4096-byte blocks):              %.1f MB/s (%.3f s)\n", size / theirs * 1e3, theirs / 1e9
  printf "ratio ours/theirs (throughput): %.2f\n", theirs / ours
}'

echo "50 routers fetching the same 16 MiB set at once:"
ip netns exec "$right" "$load" --interface eth0 --address 02:00:00:00:01:01 --clients 50 \
  | tail -n 1
