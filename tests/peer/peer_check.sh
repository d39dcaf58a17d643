#!/usr/bin/env bash
# The peer check: sigrok-cli, an independent implementation of the VCD,
# sigrok session and CSV formats, converts synthesized captures between
# them, and cfdecode must decode every converted file to exactly the records
# of the original (its CSV output compared byte for byte).
#
#   peer_check.sh CFSIM CFDECODE
#
# What sigrok-cli 0.7.2 does to a capture, and how it is mapped here:
# - Reading a VCD it takes one sample per timescale unit (1 ns for cfsim's
#   files), so the .sr and CSV it writes count nanoseconds, like the VCD's
#   positions: decoded as they are.
# - cfsim's own .sr and CSV count samples of --sample-period ns. Positions
#   decoded from them are multiplied by the period before comparing; with a
#   period of 1 ns every file decodes to the identical bytes unmapped.
# - Writing a VCD from a session it uses a 1 ns timescale: positions in ns.
# - Its CSV has comment lines, a "META samplerate" line, a label row of
#   units ("logic") unless label=channel, and no position column unless
#   time=true, whose values it writes as 0 (rows are then consecutive
#   samples). All four forms are decoded. Its dedup=true rows cannot be
#   placed without a working time column and are not used.
# - Channel names pass through unchanged.
#
# Exit status: 0 all equal, 1 a difference, 77 sigrok-cli missing (a skip,
# unless FD_REQUIRE_PEERS=1, when it fails).
set -uo pipefail
cfsim=$1 cfdecode=$2

if ! command -v sigrok-cli >/dev/null; then
  if [ "${FD_REQUIRE_PEERS:-0}" = 1 ]; then
    echo "peer check: sigrok-cli is not installed (scripts/install-deps installs it)"; exit 1
  fi
  echo "peer check: sigrok-cli is not installed; skipped"; exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/fd-peer.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

decode() {  # decode FILE OUT [SCALE]: cfdecode's CSV, positions times SCALE
  local scale=${3:-1}
  if ! "$cfdecode" --quiet --format csv "$1" >"$2.raw" 2>"$2.err"; then
    echo "  cfdecode failed on $(basename "$1"): $(cat "$2.err")"; return 1
  fi
  awk -F, -v OFS=, -v s="$scale" 'NR > 1 && s != 1 { $1 = $1 * s } { print }' "$2.raw" >"$2"
}

check() {  # check LABEL REFERENCE FILE [SCALE]
  local label=$1 reference=$2 file=$3 out="$3.decoded"
  if decode "$file" "$out" "${4:-1}" && cmp -s "$reference" "$out"; then
    echo "  ok    $label"
  else
    echo "  FAIL  $label"; diff "$reference" "$out" 2>/dev/null | head -n 6 | sed 's/^/        /'
    failures=$((failures + 1))
  fi
}

convert() {  # convert IN OUT sigrok-cli-arguments...
  local in=$1 out=$2; shift 2
  if ! sigrok-cli -i "$in" -o "$out" "$@" 2>"$out.err"; then
    echo "  FAIL  sigrok-cli $* on $(basename "$in"): $(head -n 3 "$out.err")"; failures=$((failures + 1)); return 1
  fi
}

run_case() {  # run_case NAME PERIOD cfsim-arguments...
  local name=$1 period=$2; shift 2
  local base="$work/$name"
  echo "$name (cfsim $* --sample-period $period)"
  "$cfsim" "$@" --sample-period "$period" -o "$base.vcd" &&
    "$cfsim" "$@" --sample-period "$period" -o "$base.sr" &&
    "$cfsim" "$@" --sample-period "$period" -o "$base.csv" ||
    { echo "  FAIL  cfsim"; failures=$((failures + 1)); return; }
  decode "$base.vcd" "$base.reference" || { failures=$((failures + 1)); return; }
  if [ "$(wc -l <"$base.reference")" -lt 20 ]; then
    echo "  FAIL  the original decodes to almost nothing"; failures=$((failures + 1)); return
  fi

  check "our .sr" "$base.reference" "$base.sr" "$period"
  check "our CSV" "$base.reference" "$base.csv" "$period"
  convert "$base.vcd" "$base.from-vcd.sr" -O srzip && check "VCD -> .sr (sigrok-cli)" "$base.reference" "$base.from-vcd.sr"
  convert "$base.sr" "$base.from-sr.vcd" -O vcd && check "our .sr -> VCD (sigrok-cli)" "$base.reference" "$base.from-sr.vcd"
  local form
  for form in csv csv:label=channel csv:time=true csv:time=true:label=channel; do
    convert "$base.vcd" "$base.$form.csv" -O "$form" && check "VCD -> CSV (sigrok-cli -O $form)" "$base.reference" "$base.$form.csv"
  done
}

# 1 ns per sample: every file holds the very same positions.
run_case mixed-1ns 1 mixed --sectors 2 --seed 3
# cfsim's default 5 ns: sample numbers mapped to ns.
run_case udma-faults-5ns 5 udma-write --sectors 2 --seed 11 --simultaneous-every 50 --glitches 4 --glitch-width 1
run_case pio-mdma-2ns 2 mdma --sectors 1 --seed 5 --mwdma-mode 2

if [ "$failures" -ne 0 ]; then echo "peer check: $failures difference(s)"; exit 1; fi
echo "peer check: every converted capture decodes to the original's records"
