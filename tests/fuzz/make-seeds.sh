#!/usr/bin/env bash
# Regenerates the seed corpus files made by cfsim (and, where installed, the
# sigrok-cli forms of them) in tests/fuzz/corpus/. Small scenarios only: a
# seed is mutated thousands of times a second.
#   tests/fuzz/make-seeds.sh [BUILD_BIN_DIR]   (default build/linux-x64/bin)
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=${1:-build/linux-x64/bin}
corpus=tests/fuzz/corpus
sim() { "$bin/cfsim" set-features --sample-period 20 "$@"; }
sim -o "$corpus/vcd_reader_fuzz/cfsim-set-features.vcd"
sim -o "$corpus/sigrok_session_fuzz/cfsim-set-features.sr"
sim -o "$corpus/csv_capture_fuzz/cfsim-set-features.csv"
# The capture front: compressed streams (one cut short), an FST header
# (vcd2fst, from gtkwave), Saleae- and DSView-like archives.
front=$corpus/capture_sniff_fuzz
mkdir -p "$front"
gzip -9 -n -c "$corpus/vcd_reader_fuzz/cfsim-set-features.vcd" >"$front/set-features.vcd.gz"
zstd -q -f -19 -o "$front/set-features.vcd.zst" "$corpus/vcd_reader_fuzz/cfsim-set-features.vcd"
head -c 200 "$front/set-features.vcd.gz" >"$front/cut.vcd.gz"
cp "$corpus/csv_capture_fuzz/cfsim-set-features.csv" "$front/set-features.csv"
if command -v vcd2fst >/dev/null; then vcd2fst "$corpus/vcd_reader_fuzz/cfsim-set-features.vcd" "$front/set-features.fst" >/dev/null; fi
python3 - "$front" <<'PY'
import sys, zipfile
for name, members in (("saleae.sal", {"meta.json": "{}", "digital-0.bin": "\0"}),
                      ("dsview.dsl", {"header": "[version]\nversion=2\n", "L-0/0": "\0"})):
    with zipfile.ZipFile(f"{sys.argv[1]}/{name}", "w", zipfile.ZIP_DEFLATED) as z:
        for member, data in members.items(): z.writestr(member, data)
PY
# Saleae binary export channels (the fuzz input's first byte: bit 7 splits
# it into two files at 8 times its low bits, bit 6 gives a rate) and small
# DSView sessions, written from the formats' documented layouts.
mkdir -p "$corpus/saleae_binary_fuzz" "$corpus/dsview_session_fuzz"
python3 - "$corpus" <<'PY'
import struct, sys, zipfile
corpus = sys.argv[1]
def v0(state, begin, end, times):
    return b"<SALEAE>" + struct.pack("<iiIddQ", 0, 0, state, begin, end, len(times)) + b"".join(struct.pack("<d", t) for t in times)
def v1(chunks):
    out = b"<SALEAE>" + struct.pack("<iiQ", 1, 0, len(chunks))
    for state, rate, begin, end, times in chunks:
        out += struct.pack("<IdddQ", state, rate, begin, end, len(times)) + b"".join(struct.pack("<d", t) for t in times)
    return out
us = 1e-6
seeds = {
    "v0.bin": b"\x00" + v0(1, 0, 10 * us, [3 * us, 7 * us, 8 * us]),
    "v0-rate.bin": b"\x40" + v0(0, -2 * us, 8 * us, [-2 * us, 1.4 * us, 1.6 * us]),
    "v1-gap.bin": b"\x00" + v1([(0, 1e6, 0, 5 * us, [2 * us]), (0, 1e6, 8 * us, 12 * us, [10 * us])]),
}
a = v1([(1, 1e6, 0, 4 * us, [1 * us, 3 * us]), (0, 1e6, 4 * us, 9 * us, [6 * us])])
b = v1([(0, 1e6, 0, 4 * us, [2 * us]), (1, 1e6, 4 * us, 9 * us, [5 * us, 7 * us])])
seeds["two-files.bin"] = bytes([0x80 | len(a) // 8]) + a + b
for name, data in seeds.items():
    open(f"{corpus}/saleae_binary_fuzz/{name}", "wb").write(data)
def dsl(name, header, members):
    with zipfile.ZipFile(f"{corpus}/dsview_session_fuzz/{name}", "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("header", header)
        for member, data in members: z.writestr(member, data)
head = ("[version]\nversion = 2\n[header]\ndriver = DSLogic\ndevice mode = 0\ncapturefile = data\n"
        "total samples = 20\ntotal probes = 2\ntotal blocks = 3\nsamplerate = 100 MHz\n"
        "trigger time = 0\ntrigger pos = 0\nprobe0 = IORD-\nprobe3 = CS0-\n")
dsl("two-probes.dsl", head, [("L-0/0", b"\x03"), ("L-0/1", b"\xf8"), ("L-0/2", b"\x07"),
                             ("L-3/0", b"\x00"), ("L-3/1", b"\xff"), ("L-3/2", b"\x0a")])
dsl("one-block.dsl", head.replace("total blocks = 3", "total blocks = 1").replace("probe3 = CS0-\n", "")
    .replace("total probes = 2", "total probes = 1"), [("L-0/0", b"\x55\xaa\x0f")])
PY
if command -v sigrok-cli >/dev/null; then
  work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
  printf '$timescale 1 us $end\n$var wire 1 ! IORD $end\n$var wire 1 " IOWR $end\n$enddefinitions $end\n#0 1! 1"\n#3 0!\n#5 1!\n#6 0"\n#9\n' >"$work/s.vcd"
  sigrok-cli -i "$work/s.vcd" -o "$corpus/sigrok_session_fuzz/sigrok-cli.sr" -O srzip
  sigrok-cli -i "$work/s.vcd" -o "$corpus/csv_capture_fuzz/sigrok-units.csv" -O csv
  sigrok-cli -i "$work/s.vcd" -o "$corpus/csv_capture_fuzz/sigrok-time.csv" -O csv:time=true:label=channel
  # From a session sigrok-cli knows the rate: ticks of its period in the time column.
  sigrok-cli -i "$corpus/sigrok_session_fuzz/sigrok-cli.sr" -o "$corpus/csv_capture_fuzz/sigrok-ticks.csv" -O 'csv:time=true:value=;'
fi
