#!/usr/bin/env bash
# Runs the translator on the sample interchanges that ship with the project:
# sample/REMITEX.DAT (a 004010X091A1 835) and sample/REMITEX-5010.DAT (a
# 005010X221A1 835), or on the interchanges named on the command line.
#
# For each it prepares a working directory build/sample-run/NAME with the
# default table set (layouts/default.layout, made by `tablekit create`), a
# REMITEX.VER that admits 5010 as well as the default 4010 and 3051, and the
# interchange as REMITEX.DAT; runs remitex there; and shows the run log, the
# exit status and a short summary read back with `tablekit`: the records of
# each table and the first claims with their service lines and adjustments.
#
#   scripts/run-sample.sh              both samples
#   scripts/run-sample.sh FILE...      these interchanges
#
# Ends with 0 when every run ended with 0, else with the last other status.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"$root/scripts/install-deps.sh"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target remitex tablekit_cli >/dev/null

inputs=("$@")
[ ${#inputs[@]} -eq 0 ] && inputs=(sample/REMITEX.DAT sample/REMITEX-5010.DAT)

overall=0
for input in "${inputs[@]}"; do
  name=$(basename "$input")
  name=${name%.*}
  work=build/sample-run/$name
  rm -rf "$work"
  mkdir -p "$work"
  build/bin/tablekit create layouts/default.layout "$work/DATA" >/dev/null
  printf '4010,3051,5010\n' >"$work/REMITEX.VER"
  cp "$input" "$work/REMITEX.DAT"

  status=0
  (cd "$work" && "$root/build/bin/remitex") || status=$?
  [ "$status" -ne 0 ] && overall=$status

  echo "======== $input"
  echo "== $work/REMITEX.LOG"
  cat "$work/REMITEX.LOG"
  echo
  echo "== exit status: $status"
  [ -f "$work/REMITEX.OK" ] && echo "== REMITEX.OK written"

  echo "== records per table"
  for n in 1 2 3 4 5 6; do
    count=$(build/bin/tablekit info "$work/DATA/LEVEL_$n.DBF" | awk '/record count/ {print $3}')
    printf '   LEVEL_%d  %6s\n' "$n" "$count"
  done

  # The outline of `tablekit dump --follow` indents claims by six blanks:
  # print from the first claim up to the third, or up to the first line of a
  # higher level.
  echo "== the first two claims with their service lines and adjustments"
  build/bin/tablekit dump "$work/DATA" --follow |
    awk '/^      LEVEL_4 / { claims++ }
         claims > 2 || (claims > 0 && /^ {0,5}[^ ]/) { exit }
         claims > 0 { print }'
  echo
done
exit "$overall"
