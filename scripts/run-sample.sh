#!/usr/bin/env bash
# Runs the translator on the sample that ships with the project: prepares a
# working directory build/sample-run from sample/, runs remitex there, and
# shows the run log and the exit status.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/install-deps.sh"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target remitex >/dev/null

work=build/sample-run
rm -rf "$work"
mkdir -p "$work"
cp -R sample/. "$work/"

status=0
(cd "$work" && ../bin/remitex) || status=$?

echo "== $work/REMITEX.LOG"
cat "$work/REMITEX.LOG"
echo
echo "== exit status: $status"
[ -f "$work/REMITEX.OK" ] && echo "== REMITEX.OK written"
exit "$status"
