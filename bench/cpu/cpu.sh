#!/usr/bin/env bash
# CPU the window spends on its live display, against a command-line Modbus poller doing the same
# polling: vortan-service and mbpoll, each on its own simulator, side by side. Each window of the
# run reads both processes' CPU time (the first field of schedstat, in ns, summed over the
# process's threads) at its start and end; a row gives both CPU shares, their ratio and each
# line's exchanges per second (the simulators' reply counters), and the last lines the median
# ratio and the target.
#
#   bench/cpu/cpu.sh <bin-dir> [windows=5] [seconds=18]
#
# Use the bin folder of a Release build. The window runs offscreen (QT_QPA_PLATFORM=offscreen:
# Qt renders into memory images, so widget painting is counted, a compositor's work is not).
# mbpoll reads the 72 input registers at 2000.. (its -r is 1-based) every 40 ms, to /dev/null.
set -euo pipefail

bin="$(cd "${1:?usage: cpu.sh <bin-dir> [windows] [seconds]}" && pwd)"
windows="${2:-5}"
seconds="${3:-18}"
{ [ "$seconds" -ge 15 ] && [ "$seconds" -le 20 ]; } || { echo "cpu: seconds must be 15..20" >&2; exit 2; }
[ "$windows" -ge 1 ] || { echo "cpu: windows must be at least 1" >&2; exit 2; }
command -v mbpoll >/dev/null || { echo "cpu: mbpoll is not installed (scripts/setup.sh)" >&2; exit 1; }

# shellcheck source=../support/procs.sh
. "$(dirname "$0")/../support/procs.sh"
bench_begin cpu
now_ns() { date +%s%N; }

# Each simulator takes "stats" on a pipe kept open here, so its counters can be read mid-run.
mkfifo "$work/svc.in" "$work/poll.in"
exec 3<>"$work/svc.in" 4<>"$work/poll.in"
bench_sim_stdin="$work/svc.in" bench_start_sim "$work/tty-svc" "$work/sim-svc"
bench_sim_stdin="$work/poll.in" bench_start_sim "$work/tty-poll" "$work/sim-poll"

# A private copy of the window program, so its configuration file lands in the scratch folder.
cp "$bin/vortan-service" "$work/"
QT_QPA_PLATFORM=offscreen "$work/vortan-service" --port "$work/tty-svc" >/dev/null 2>"$work/svc.err" &
svc_pid=$!
bench_track "$svc_pid"
mbpoll -m rtu -b 115200 -P even -a 1 -t 3 -r 2001 -c 72 -l 40 "$work/tty-poll" \
  >"$work/poll.out" 2>&1 &
poll_pid=$!
bench_track "$poll_pid"

# replies FD OUT: the simulator's reply count so far.
replies() {
  local lines
  lines="$(wc -l <"$2")"
  echo stats >&"$1"
  for _ in $(seq 100); do
    [ "$(wc -l <"$2")" -gt "$lines" ] && break
    sleep 0.02
  done
  tail -n1 "$2" | grep -o '"replies":[0-9]*' | cut -d: -f2
}
# Every thread of the process (a program's own schedstat counts its main thread only).
cpu_ns() { cat "/proc/$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%d\n", s }'; }

# Start-up is left out; then mbpoll must have printed register values read from its simulator.
sleep 5
for pid in "$svc_pid" "$poll_pid"; do
  kill -0 "$pid" 2>/dev/null || { echo "cpu: a program ended early" >&2; cat "$work/svc.err" "$work/poll.out" >&2; exit 1; }
done
grep -q '^\[2001\]:' "$work/poll.out" || { echo "cpu: mbpoll got no replies" >&2; tail "$work/poll.out" >&2; exit 1; }
grep -q 'timeout\|error' "$work/poll.out" && echo "cpu: mbpoll reported failures: $(grep -c 'timeout\|error' "$work/poll.out")"

printf 'CPU of vortan-service (offscreen) against mbpoll, %d windows of %d s\n' "$windows" "$seconds"
fmt='%-7s %10s %9s %7s %12s %11s\n'
# shellcheck disable=SC2059
printf "$fmt" window 'service %' 'mbpoll %' ratio 'service ex/s' 'mbpoll ex/s'
for w in $(seq "$windows"); do
  t0="$(now_ns)"; s0="$(cpu_ns "$svc_pid")"; p0="$(cpu_ns "$poll_pid")"
  r_s0="$(replies 3 "$work/sim-svc.out")"; r_p0="$(replies 4 "$work/sim-poll.out")"
  sleep "$seconds"
  t1="$(now_ns)"; s1="$(cpu_ns "$svc_pid")"; p1="$(cpu_ns "$poll_pid")"
  r_s1="$(replies 3 "$work/sim-svc.out")"; r_p1="$(replies 4 "$work/sim-poll.out")"
  row="$(awk -v w="$w" -v t="$((t1 - t0))" -v s="$((s1 - s0))" -v p="$((p1 - p0))" \
    -v rs="$((r_s1 - r_s0))" -v rp="$((r_p1 - r_p0))" -v fmt="$fmt" 'BEGIN {
      ratio = p > 0 ? s / p : 0
      printf fmt, w, sprintf("%.2f", 100 * s / t), sprintf("%.2f", 100 * p / t), sprintf("%.2f", ratio),
        sprintf("%.1f", rs / (t / 1e9)), sprintf("%.1f", rp / (t / 1e9))
      printf "%s\n", ratio > "/dev/stderr"
    }' 2>>"$work/ratios")"
  echo "$row"
done
sort -g "$work/ratios" | awk '{ v[NR] = $1 } END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "median ratio: %.2f\ntarget: ratio <= 1.2\n", m }'
