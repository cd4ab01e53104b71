#!/usr/bin/env bash
# The load benchmark: builds remitex and tablekit (Release) in build-bench/,
# generates 835 interchanges of 10 MB and 100 MB (bench/gen835.py, fixed
# seed, kept between runs), and for each loads it into the default table set
# (layouts/default.layout, made with `tablekit create`) in a fresh working
# directory. Prints, per size: input MB/s, segments/s, records/s, bytes
# written and peak memory, beside the time of `cat` of the same input (into a
# pipe read by wc: into /dev/null the kernel skips the reading) and of
# `dd` writing as many bytes as the run wrote. Their sum is the floor; the
# ratio is the run's time over the floor. cpu_s (user plus system seconds of
# the run, both threads) is steadier than the wall-clock time on a busy
# machine. Each load is the fastest of five.
#
# usage: bench/run.sh [SIZE_MB...]      (default: 10 100)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-bench
data=$build/bench-data
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 100)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target remitex tablekit_cli >/dev/null
mkdir -p "$data"

calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }

# Best of three wall-clock seconds of a command, its output thrown away.
best_of_three() {
  local best="" start end t
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(calc "$end - $start")
    if [ -z "$best" ] || [ "$(calc "$t < $best")" != 0.000000 ]; then best=$t; fi
  done
  echo "$best"
}

printf '%-6s %8s %7s %7s %8s %11s %11s %12s %8s %7s %7s %7s %6s\n' \
  size input_MB run_s cpu_s MB/s segments/s records/s bytes_out peak_MB cat_s dd_s floor_s ratio
for size in "${sizes[@]}"; do
  input=$data/835-${size}MB.dat
  [ -f "$input" ] || python3 bench/gen835.py --size "$size" --seed 835 --out "$input"
  work=$build/bench-run-${size}MB
  cat "$input" >/dev/null   # the input in the page cache, as for cat below

  # Five runs, each in a fresh working directory after the dirty pages of
  # the one before reached the disk (sync), so that no run pays for another's
  # write-back; the fastest one is reported, as for cat and dd.
  run_s=""
  for _ in 1 2 3 4 5; do
    rm -rf "$work"
    mkdir -p "$work"
    "$build/bin/tablekit" create layouts/default.layout "$work/DATA" >/dev/null
    ln -s "$input" "$work/REMITEX.DAT"
    printf '5010,4010,3051\n' >"$work/REMITEX.VER"
    sync

    status=0
    start=$(date +%s.%N)
    /usr/bin/time -f '%M %U %S' -o "$work/usage.txt" sh -c "cd '$work' && exec '$build/bin/remitex'" || status=$?
    end=$(date +%s.%N)
    if [ "$status" != 0 ]; then
      echo "remitex ended with status $status on $input; log:" >&2
      cat "$work/REMITEX.LOG" >&2
      exit 1
    fi
    t=$(calc "$end - $start")
    if [ -z "$run_s" ] || [ "$(calc "$t < $run_s")" != 0.000000 ]; then
      run_s=$t
      read -r peak_kb user_s sys_s < <(tail -n 1 "$work/usage.txt")
    fi
  done
  cpu_s=$(calc "$user_s + $sys_s")

  input_bytes=$(stat -c %s "$input")
  segments=$(tr -cd '~' <"$input" | wc -c)
  records=$("$build/bin/tablekit" info "$work/DATA" | awk '/^  record count/ { n += $3 } END { printf "%.0f\n", n }')
  bytes_out=$(find "$work/DATA" "$work/REMITEX.LOG" -type f -printf '%s\n' | awk '{ n += $1 } END { printf "%.0f\n", n }')

  # Through a pipe: cat into /dev/null splices pages away without reading them.
  cat_s=$(best_of_three sh -c "cat '$input' | wc -c")
  dd_s=$(best_of_three dd if=/dev/zero of="$work/dd.out" bs=1M count=$(( (bytes_out + 1048575) / 1048576 )))
  rm -f "$work/dd.out"
  floor_s=$(calc "$cat_s + $dd_s")

  printf '%-6s %8.1f %7.2f %7.2f %8.1f %11.0f %11.0f %12d %8.1f %7.3f %7.3f %7.3f %6.1f\n' \
    "${size}MB" "$(calc "$input_bytes / 1000000")" "$run_s" "$cpu_s" "$(calc "$input_bytes / 1000000 / $run_s")" \
    "$(calc "$segments / $run_s")" "$(calc "$records / $run_s")" "$bytes_out" "$(calc "$peak_kb / 1024")" \
    "$cat_s" "$dd_s" "$floor_s" "$(calc "$run_s / $floor_s")"
done
