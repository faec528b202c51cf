#!/usr/bin/env bash
# install-server over a veth link between two network namespaces made here:
#  1. one 64 MiB package fetched by one router (install-load, written to tmpfs), against TFTP
#     (tftpd-hpa serving the same file to curl with 4096-byte blocks) on the same link; MB/s of
#     the best of several runs of each and the ratio ours/theirs;
#  2. 50 routers fetching the same 16 MiB set at once from one server: total throughput, and
#     the slowest router's time against the mean;
#  3. one router fetching that set with a tenth of the datagrams dropped each way (nftables):
#     each loss costs the router's 20 ms retry, and the server must add nothing to it.
# RUNS (3 by default) runs of the first; TMPFS=DIR (default /dev/shm) holds the files. QUICK=1:
# a 1 MiB package, one run, then 5 routers fetching a 1 MiB set; every file is checked, no figures.
# Needs root, iproute2, nftables, tftpd-hpa and curl (`scripts/setup.sh --bench` installs them). Nothing
# leaves the two namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --bench
. bench/common.sh
runs=${RUNS:-3}
tmpfs=${TMPFS:-/dev/shm}
big=$((64 << 20))   # the one package
part=$((4 << 20))   # each of the four files of the set
clients=50
if quick; then
  runs=1
  big=$((1 << 20))
  part=$((256 << 10))
  clients=5
fi

build_programs install-server install-load
server=$bin/install-server
load=$bin/install-load

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
head -c "$big" /dev/urandom >"$work/served/packages/big.vpk"
head -c 4096 /dev/urandom >"$work/served/drivers/default.vpk"
for number in 1 2 3 4; do
  head -c "$part" /dev/urandom >"$work/served/packages/set$number.vpk"
done
cat >"$work/profiles" <<'PROFILES'
profile default erase big.vpk
profile fleet erase set1.vpk set2.vpk set3.vpk set4.vpk
PROFILES
# Routers 02:00:00:00:01:01 and up fetch the set.
for i in $(seq 1 "$clients"); do
  printf 'router 02:00:00:00:01:%02X fleet\n' "$i" >>"$work/profiles"
done

ip netns exec "$left" "$server" --directory "$work/served" --profiles "$work/profiles" \
  --interface eth0 >"$work/server.log" &
pids+=($!)
ip netns exec "$left" /usr/sbin/in.tftpd -L -s "$work/served/packages" -a 10.213.0.1:69 &
pids+=($!)
sleep 0.5

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

fleet() {  # the set to $clients routers at once; install-load fails when one does not finish
  ip netns exec "$right" "$load" --interface eth0 --address 02:00:00:00:01:01 \
    --clients "$clients" "$@"
}

if quick; then
  rm -rf "$work/out"/*
  fleet --output "$work/out" >/dev/null
  for i in $(seq 1 "$clients"); do
    for number in 1 2 3 4; do
      cmp "$work/out/$(printf '02:00:00:00:01:%02X' "$i")/set$number.vpk" \
        "$work/served/packages/set$number.vpk"
    done
  done
  quick_passed "one router got the package from install-server and curl from tftpd-hpa, and $clients routers at once the set, byte for byte"
  exit 0
fi

awk -v ours="$ours" -v theirs="$theirs" -v size="$big" 'BEGIN {
  printf "one %d MiB package over veth to tmpfs, best of runs:\n", size / 1048576
  printf "ours (install-server to install-load, 4076-byte payloads):  %.1f MB/s (%.3f s)\n", size / ours * 1e3, ours / 1e9
  printf "theirs (tftpd-hpa to curl, 4096-byte blocks):              %.1f MB/s (%.3f s)\n", size / theirs * 1e3, theirs / 1e9
  printf "ratio ours/theirs (throughput): %.2f\n", theirs / ours
}'

echo "$clients routers fetching the same $((4 * part >> 20)) MiB set at once:"
fleet | tail -n 1

echo "one router fetching the set with a tenth of the datagrams dropped each way:"
for space in "$left" "$right"; do
  ip netns exec "$space" nft add table inet loss
  ip netns exec "$space" nft "add chain inet loss out { type filter hook output priority 0 ; }"
  ip netns exec "$space" nft add rule inet loss out udp dport 5000 numgen random mod 10 == 0 drop
done
ip netns exec "$right" "$load" --interface eth0 --address 02:00:00:00:01:01 | tail -n 1
