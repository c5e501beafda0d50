#!/usr/bin/env bash
# vortanctl against the simulator, timed as whole processes: backup (20 reads), restore with its
# read-back (22 writes, 20 reads), a scan of addresses 1..127 with one controller present, and the
# time from launch to the first frame on the line. Each figure: min / median / max over N runs.
#
#   bench/ctl/ctl_bench.sh <bin-dir> [runs=5]
#
# Use the bin folder of a Release build (./run builds one into build/release/bin).
set -euo pipefail

bin="$(cd "${1:?usage: ctl_bench.sh <bin-dir> [runs]}" && pwd)"
runs="${2:-5}"
work="$(mktemp -d "${TMPDIR:-/tmp}/vortan-ctl.XXXXXX")"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
now_ns() { date +%s%N; }

pty="$work/ttyVortan"
"$bin/vortan-sim" --link "$pty" --memory "$work/eeprom.bin" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do [ -e "$pty" ] && break; sleep 0.05; done
[ -e "$pty" ] || { echo "ctl_bench: simulator did not start" >&2; exit 1; }

ctl() { "$bin/vortanctl" --port "$pty" -q "$@"; }
ctl backup -o "$work/set.ini" || { echo "ctl_bench: backup failed" >&2; exit 1; }

# Milliseconds a command takes; the run stops if it fails.
timed() {
  local t0 t1
  t0="$(now_ns)"
  "$@" >/dev/null || { echo "ctl_bench: failed: $*" >&2; exit 1; }
  t1="$(now_ns)"
  echo $(( (t1 - t0) / 1000000 ))
}

# Launch to the first frame: the program's diagnostics line is stamped when it arrives.
first_frame() {
  local t0 line
  t0="$(now_ns)"
  QT_LOGGING_RULES="vortan.ctl.info=true" "$bin/vortanctl" --port "$pty" -q status 2>&1 >/dev/null |
    while IFS= read -r line; do
      case "$line" in *"first frame sent"*) echo $(( ($(now_ns) - t0) / 1000000 )) ;; esac
    done
}

stats() { sort -n | awk '{ v[NR] = $1 } END { printf "min %d  median %d  max %d ms", v[1], v[int((NR + 1) / 2)], v[NR] }'; }

declare -a backup restore scan first
for _ in $(seq "$runs"); do
  backup+=("$(timed ctl backup -o "$work/b.ini")")
  restore+=("$(timed ctl restore "$work/set.ini")")
  scan+=("$(timed ctl scan)")
  first+=("$(first_frame)")
done

echo "vortanctl against vortan-sim, $runs runs each"
printf '  backup (20 exchanges)            %s   (target < 1000)\n' "$(printf '%s\n' "${backup[@]}" | stats)"
printf '  restore with read-back (42)      %s   (target < 2000)\n' "$(printf '%s\n' "${restore[@]}" | stats)"
printf '  scan 1..127, one controller      %s   (target < 6000)\n' "$(printf '%s\n' "${scan[@]}" | stats)"
printf '  launch to first frame            %s   (target < 100)\n' "$(printf '%s\n' "${first[@]}" | stats)"
