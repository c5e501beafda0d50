#!/usr/bin/env bash
# vortanctl report against the simulator, timed from launch to the finished file: the status
# block, the 20 parameter reads, the comparison with a settings file and the HTML written.
# Prints each run and the median; the target is under 2 s.
#
#   bench/report/report.sh <bin-dir> [runs=7]
#
# Use the bin folder of a Release build (./run builds one into build/release/bin).
set -euo pipefail

bin="$(cd "${1:?usage: report.sh <bin-dir> [runs]}" && pwd)"
runs="${2:-7}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=../support/procs.sh
. "$here/../support/procs.sh"
bench_begin report

pty="$work/ttyVortan"
bench_start_sim "$pty" "$work/sim"
ctl() { "$bin/vortanctl" --port "$pty" -q "$@"; }
ctl backup -o "$work/set.ini" || { echo "report: backup failed" >&2; exit 1; }
ctl journal --duration 2 -o "$work/journal.csv" || { echo "report: journal failed" >&2; exit 1; }

now_ns() { date +%s%N; }
times=()
for n in $(seq "$runs"); do
  rm -f "$work/report.html"
  t0="$(now_ns)"
  ctl report -o "$work/report.html" --against "$work/set.ini" --journal "$work/journal.csv" ||
    { echo "report: run $n failed" >&2; exit 1; }
  t1="$(now_ns)"
  [ -s "$work/report.html" ] || { echo "report: run $n left no file" >&2; exit 1; }
  times+=($(( (t1 - t0) / 1000000 )))
done

echo "vortanctl report against vortan-sim, $runs runs: ${times[*]} ms"
bytes="$(stat -c %s "$work/report.html")"
printf '%s\n' "${times[@]}" | sort -n | awk -v bytes="$bytes" '{ v[NR] = $1 }
  END { printf "median %d ms (target < 2000 ms), report %d bytes\n", v[int((NR + 1) / 2)], bytes }'
