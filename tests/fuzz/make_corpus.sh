#!/usr/bin/env bash
# Makes the seed corpus of every fuzz target from packages that vpk builds, signs, bundles and
# installs. Usage: tests/fuzz/make_corpus.sh VPK OUT. The fuzz build runs it before its replays,
# with a vpk of its own, so the seeds always match what vpk writes today.
set -euo pipefail
vpk=$(realpath "$1")
corpus=$(realpath -m "$2")
cd "$(dirname "$0")/../.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Trees: a base system with a directory, files, a link and a FIFO; a small add-on.
mkdir -p "$work/system/etc/init.d" "$work/system/bin" "$work/ppp/etc/ppp"
echo "hostname router" >"$work/system/etc/base.conf"
printf '#!/bin/sh\necho start\n' >"$work/system/etc/init.d/rc"
ln -s /etc/base.conf "$work/system/bin/config"
mkfifo "$work/system/etc/fifo"
echo "lock" >"$work/ppp/etc/ppp/options"
echo 'echo installed' >"$work/install.sh"

time=1700000000
# Fixed times, so that the seeds come out the same on every run.
find "$work" -exec touch -h -d @$time {} +
"$vpk" build --name system --version 2.9.5 --build-time $time --arch i386 \
  --description "base system" --owner 0:0 --sign keys/private_key.hex \
  -o "$work/system.vpk" "$work/system" >/dev/null
"$vpk" build --name ppp --version 1.0 --build-time $time --depends 'system>=2.9' \
  --provides 'net:5' --conflicts 'pppoe<2.0' --install-script "$work/install.sh" --owner 0:0 \
  -o "$work/ppp.vpk" "$work/ppp" >/dev/null
"$vpk" build --name web --version 0.9rc1 --build-time $time --flags 2 --unrecorded \
  -o "$work/web.vpk" >/dev/null
"$vpk" build-bundle --name suite --version 1.0 --build-time $time \
  -o "$work/suite.vpk" "$work/system.vpk" "$work/ppp.vpk" >/dev/null
mkdir -p "$work/tree"
"$vpk" install --root "$work/tree" "$work/system.vpk" "$work/ppp.vpk" >/dev/null 2>&1 || true

rm -rf "$corpus"
python3 - "$work" "$corpus" <<'PY'
import os, struct, sys, zlib

work, corpus = sys.argv[1], sys.argv[2]
packages = ["system", "ppp", "web", "suite"]

def put(target, name, data):
    os.makedirs(os.path.join(corpus, target), exist_ok=True)
    with open(os.path.join(corpus, target, name), "wb") as out:
        out.write(data)

def parts(data):
    at = 8
    while at + 6 <= len(data):
        kind, length = struct.unpack_from("<HI", data, at)
        yield kind, data[at + 6:at + 6 + length]
        at += 6 + length

def read(path):
    with open(path, "rb") as f:
        return f.read()

files = {}
for name in packages:
    data = read(os.path.join(work, name + ".vpk"))
    put("package_file", name, data)
    # All types accepted; hashing on with 68-byte reads; then a mix of reads, seeks and skips.
    put("part_reader", name, bytes([0xff, 0xff, 0xff, 0x07, 0x1b, 0xe4]) + data)
    put("part_reader", name + "-plain", bytes([0x09, 0x00, 0x00, 0x0a, 0x00, 0x55]) + data)
    for kind, content in parts(data):
        if kind == 4:
            files[name] = content

for name, compressed in files.items():
    archive = zlib.decompress(compressed)
    put("unpack", name, b"\x00" + archive)
    put("unpack", name + "-disabled-cut", b"\x0b" + archive)
    put("inflate", name + "-zlib", b"\x00" + compressed)
    put("inflate", name + "-seek", b"\x16" + compressed)
    raw = zlib.compressobj(9, zlib.DEFLATED, -15)
    put("inflate", name + "-raw", b"\x03" + raw.compress(archive * 20) + raw.flush())

# The database places, in the order the database target lists them.
names = ["system", "ppp", "web", "dhcp"]
items = ["version", "deps", "provides", "conflicts", "bundle", "files", "disabled", "enabled",
         "image"]
places = ["flash/var/pdb", "system/rw/pckg/.images"]
for name in names:
    places.append("flash/var/pdb/" + name)
    places += ["flash/var/pdb/%s/%s" % (name, item) for item in items]
    places += ["system/ram/pdb/%s/schedule" % name, "system/rw/pckg/.images/%s.vpk" % name]

def record(place, kind, content):
    return bytes([places.index(place), kind]) + struct.pack("<H", len(content)) + content

tree = os.path.join(work, "tree", "var", "pdb")
description = b""
for name in sorted(os.listdir(tree)):
    for item in sorted(os.listdir(os.path.join(tree, name))):
        place = "flash/var/pdb/%s/%s" % (name, item)
        content = read(os.path.join(tree, name, item))
        if place in places and len(content) < 65536:
            description += record(place, 0, content)
        if item in ("deps", "provides"):
            put("dependency_file", name + "-" + item, bytes([item == "provides"]) + content)
put("database", "installed", description)
put("database", "scheduled", description + record("system/ram/pdb/ppp/schedule", 0, b"disable\n")
    + record("flash/var/pdb/ppp/disabled", 0, b"auto\n"))
put("database", "images", record("flash/var/pdb", 1, b"")
    + record("system/rw/pckg/.images/web.vpk", 0, read(os.path.join(work, "web.vpk")))
    + record("flash/var/pdb/system/image", 0, read(os.path.join(work, "system.vpk")))
    + record("flash/var/pdb/dhcp", 2, b"../ppp"))
put("dependency_file", "hand", b"\x01system 2.9.5 0 0\nnet 0 4294967295 -5\n")

put("post_log", "lines", b"WARNING: could not open repo\nppp-1.0 installed\nhalf a line")
put("post_log", "reserved", bytes(4096))
put("geometry_line", "sfdisk", b"/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track\n")
put("geometry_line", "short", b"/dev/hda 1023 c 255 h 63 s")
put("partition_dump", "sfdisk",
    b"# partition table of /dev/sda\nunit: cylinders\n\n"
    b"/dev/sda1 : start=        1, size=     1, Id=83, bootable\n"
    b"/dev/sda2 : start=        2, size=  2086, Id=83\n"
    b"/dev/sda3 : start=        0, size=     0, Id= 0\n"
    b"/dev/sda4 : start=        0, size=     0, Id= 0\n")

# Old configuration stores, in the places of the keep_config target: a store with a link to a
# sibling, one with links back up to itself and to "/", and an old-style store beside a FIFO.
store_places = ["vela/store", "vela/store/a", "vela/store/b", "vela/store/a/c", "vela/store/a/d",
                "vela/store/b/e", "rw/store", "rw/store/a", "rw/store/a/c", "vela", "rw", "other"]
def entry(place, kind, content=b""):
    return bytes([store_places.index(place), kind]) + struct.pack("<H", len(content)) + content
put("keep_config", "store", entry("vela/store/a/c", 0, b"rules\n") + entry("vela/store/b/e", 0, b"")
    + entry("vela/store/a/d", 2, b"../b"))
put("keep_config", "loops", entry("vela/store/a/c", 0, b"x") + entry("vela/store/b", 2, b"/")
    + entry("vela/store/a/d", 2, b".."))
put("keep_config", "old-store", entry("rw/store/a/c", 0, b"old rules\n") + entry("other", 3)
    + entry("rw/store/a", 2, b"/other"))

# Conversations: records of a 2-byte length and a datagram (header of addresses, reserved,
# payload length, sequence, acknowledgement; then the payload).
def datagram(source, destination, sequence, acknowledgement, payload):
    body = bytes(source) + bytes(destination) + struct.pack("<HHHH", 0, len(payload), sequence,
                                                            acknowledgement) + payload
    return struct.pack("<H", len(body)) + body
client, server, nobody = [2, 0, 0, 0, 0, 1], [2, 0, 0, 0, 0, 9], [0] * 6
put("datagram", "install", datagram(server, client, 1, 0, b"OFFR\n\nkeep\n")
    + datagram(server, client, 2, 2, b"OKAY\n") + datagram(server, client, 3, 3, b"FILE\nbase.vpk\n5\n")
    + datagram(server, client, 4, 4, b"abcde") + datagram(server, client, 4, 4, b"abcde")
    + datagram(server, client, 5, 5, b"") + datagram(server, client, 6, 6, b"FILE\n..\n-1\n"))
put("datagram", "echo", datagram(client, nobody, 1, 0, b"DSCV\n\n\nCorvanta\ni386\n\0"))
put("server_request", "install",
    datagram(client, nobody, 1, 0, b"DRVR\n6.1.0-18-amd64\0") + datagram(client, server, 1, 0, b"RETR")
    + datagram(client, server, 2, 1, b"RETR") + datagram(client, server, 3, 2, b"RETR")
    + datagram(client, nobody, 1, 0, b"DSCV\n\n\nCorvanta\ni386\n\0")
    + datagram(client, server, 1, 1, b"YACK\n") + datagram(client, server, 2, 2, b"STRT")
    + datagram(client, server, 3, 3, b"RETR") + datagram(client, server, 3, 3, b"RETR")
    + datagram(client, server, 4, 4, b"RETR") + datagram(client, server, 5, 5, b"WTRM"))
PY
echo "corpus written to $corpus: $(find "$corpus" -type f | wc -l) files, $(du -sk "$corpus" | cut -f1) KiB"
