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
if command -v sigrok-cli >/dev/null; then
  work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
  printf '$timescale 1 us $end\n$var wire 1 ! IORD $end\n$var wire 1 " IOWR $end\n$enddefinitions $end\n#0 1! 1"\n#3 0!\n#5 1!\n#6 0"\n#9\n' >"$work/s.vcd"
  sigrok-cli -i "$work/s.vcd" -o "$corpus/sigrok_session_fuzz/sigrok-cli.sr" -O srzip
  sigrok-cli -i "$work/s.vcd" -o "$corpus/csv_capture_fuzz/sigrok-units.csv" -O csv
  sigrok-cli -i "$work/s.vcd" -o "$corpus/csv_capture_fuzz/sigrok-time.csv" -O csv:time=true:label=channel
  # From a session sigrok-cli knows the rate: ticks of its period in the time column.
  sigrok-cli -i "$corpus/sigrok_session_fuzz/sigrok-cli.sr" -o "$corpus/csv_capture_fuzz/sigrok-ticks.csv" -O 'csv:time=true:value=;'
fi
