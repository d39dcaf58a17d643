#!/usr/bin/env bash
# The HDL testbench check: Icarus Verilog simulates a behavioural ATA host
# and CF card (written from the ATA/CF timing rules, not from cfsim), the
# host logs every cycle it made, and cfdecode must decode the VCD exactly as
# Icarus wrote it to that log: every register cycle and data word at its
# position with its value, no phantom record, and each command with its
# protocol, verdict and byte count (compare_log.py).
#
#   run_testbench.sh CFDECODE WORKDIR
#
# WORKDIR keeps the VCD, the log and cfdecode's output for a look after a
# failure. Exit status: 0 all equal, 1 a difference or a failing step, 77
# iverilog, vvp or python3 missing (a skip, unless FD_REQUIRE_PEERS=1, when
# it fails).
set -uo pipefail
cfdecode=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)

missing=()
for tool in iverilog vvp python3; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if [ ${#missing[@]} -ne 0 ]; then
  if [ "${FD_REQUIRE_PEERS:-0}" = 1 ]; then
    echo "hdl testbench: ${missing[*]} not installed (scripts/install-deps installs them)"; exit 1
  fi
  echo "hdl testbench: ${missing[*]} not installed; skipped"; exit 77
fi

mkdir -p "$work" || exit 1
base="$work/cf_testbench"
rm -f "$base".* "$work"/records.* "$work"/transactions.*

if ! iverilog -g2012 -Wall -I "$here" -o "$base.vvp" \
     "$here/cf_testbench.v" "$here/ata_host.v" "$here/cf_card.v" 2>"$base.iverilog"; then
  echo "hdl testbench: iverilog failed:"; cat "$base.iverilog"; exit 1
fi
if [ -s "$base.iverilog" ]; then echo "hdl testbench: iverilog warned:"; cat "$base.iverilog"; exit 1; fi

vvp -n "$base.vvp" +vcd="$base.vcd" +log="$base.log" >"$base.vvp-out" 2>&1
rc=$?
if [ $rc -ne 0 ] || ! grep -q '^done' "$base.log" 2>/dev/null; then
  echo "hdl testbench: the simulation failed (vvp status $rc):"; tail -n 20 "$base.vvp-out"; exit 1
fi
grep -v '^VCD info' "$base.vvp-out"

decode() {  # decode OUTPUT cfdecode-options...
  local out=$1; shift
  if ! "$cfdecode" "$@" --format json "$base.vcd" >"$work/$out.jsonl" 2>"$work/$out.err"; then
    echo "hdl testbench: cfdecode $* failed:"; cat "$work/$out.err"; return 1
  fi
  sed 's/^/  /' "$work/$out.err"
}
echo "cfdecode on $(basename "$base.vcd") ($(wc -c <"$base.vcd") bytes), files in $work:"
decode records || exit 1
decode transactions --view transactions --quiet || exit 1

python3 "$here/compare_log.py" "$base.log" "$work/records.jsonl" "$work/transactions.jsonl"
