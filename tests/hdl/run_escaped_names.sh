#!/usr/bin/env bash
# Icarus Verilog's escaped names: escaped_names.v drives four register
# cycles on nets named \-CS0, \CS1#, \DIOR-, \DD[15:0] ..., seen from two
# scopes, with the dump off between the second and the third; cfdecode must
# bind every role by name and decode the VCD exactly as Icarus wrote it to
# escaped_names.csv, saying which stretch had no data.
#
#   run_escaped_names.sh CFDECODE WORKDIR
#
# Exit status: 0 equal, 1 a difference or a failing step, 77 iverilog or vvp
# missing (a skip, unless FD_REQUIRE_PEERS=1, when it fails).
set -uo pipefail
cfdecode=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)

missing=()
for tool in iverilog vvp; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if [ ${#missing[@]} -ne 0 ]; then
  if [ "${FD_REQUIRE_PEERS:-0}" = 1 ]; then
    echo "escaped names: ${missing[*]} not installed (scripts/install-deps installs them)"; exit 1
  fi
  echo "escaped names: ${missing[*]} not installed; skipped"; exit 77
fi

mkdir -p "$work" || exit 1
base="$work/escaped_names"
rm -f "$base".*
if ! iverilog -g2012 -Wall -o "$base.vvp" "$here/escaped_names.v" 2>"$base.iverilog"; then
  echo "escaped names: iverilog failed:"; cat "$base.iverilog"; exit 1
fi
if ! vvp -n "$base.vvp" +vcd="$base.vcd" >"$base.vvp-out" 2>&1; then
  echo "escaped names: the simulation failed:"; tail -n 20 "$base.vvp-out"; exit 1
fi
if ! "$cfdecode" --format csv "$base.vcd" >"$base.csv" 2>"$base.err"; then
  echo "escaped names: cfdecode failed:"; cat "$base.err"; exit 1
fi
cat "$base.err"
status=0
if ! diff -u "$here/escaped_names.csv" "$base.csv"; then
  echo "escaped names: the records differ from escaped_names.csv"; status=1
fi
if ! grep -q 'no data from 500 to 1500 (\$dumpoff until \$dumpon)' "$base.err"; then
  echo "escaped names: no note on the \$dumpoff stretch"; status=1
fi
if grep -q 'no signal named\|list position\|both name\|already carries' "$base.err"; then
  echo "escaped names: a role was not bound by its name"; status=1
fi
exit $status
