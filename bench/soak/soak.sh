#!/usr/bin/env bash
# Soak run of the real program: vortan-service offscreen against vortan-sim for a while, then the
# figures that matter on a service PC: exchanges per second and missed ticks (from the
# simulator's counters), the program's CPU share, its peak resident memory, and the time from
# launch to the first frame on the line.
#
#   bench/soak/soak.sh <bin-dir> [seconds=30] [program options...]
#   SOAK_TRENDS=1 bench/soak/soak.sh <bin-dir> [seconds]   # also records every status reply and
#                                       # shows the trend window with 8 curves over 15 minutes
#
# Use the bin folder of a Release build (./run builds one into build/release/bin). Options after
# the seconds go to vortan-service: `--monitor` runs with "Монитор обмена" open and following,
# `--trace FILE` with the frame trace. The resident memory is sampled at each quarter of the run,
# so a table ring that fills (10,000 rows take 400 s at 25 exchanges per second) shows whether
# the memory stays flat afterwards.
set -euo pipefail

bin="$(cd "${1:?usage: soak.sh <bin-dir> [seconds]}" && pwd)"
seconds="${2:-30}"
shift $(( $# < 2 ? $# : 2 ))
tick_ms=40

# shellcheck source=../support/procs.sh
. "$(dirname "$0")/../support/procs.sh"
bench_begin soak
now_ns() { date +%s%N; }

# A private copy of the program, so its configuration file lands in the scratch folder.
cp "$bin/vortan-service" "$work/"
pty="$work/ttyVortan"

bench_start_sim "$pty" "$work/sim" || { echo "soak: simulator did not start" >&2; exit 1; }

svc_args=(--port "$pty")
if [ "${SOAK_TRENDS:-0}" = 1 ]; then
  printf '[Trends]\r\nFields=%s\r\nSpan=15\r\n' \
    lbl_phAU,lbl_phBU,lbl_phCU,lbl_phAI,lbl_fr,lbl_ap,lbl_cosfi,lbl_ovl_duty >"$work/тп.ini"
  svc_args+=(--trends --record "$work/soak.csv")
fi

# Each line of the program's diagnostics is stamped when it arrives.
launch_ns="$(now_ns)"
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="vortan.startup.info=true" \
  "$work/vortan-service" "${svc_args[@]}" "$@" \
  2> >(while IFS= read -r line; do printf '%s %s\n' "$(now_ns)" "$line"; done >"$work/svc.log") &
svc_pid=$!
bench_track "$svc_pid"

first_ns=""
for _ in $(seq 200); do
  first_ns="$(grep -m1 'first frame sent' "$work/svc.log" 2>/dev/null | cut -d' ' -f1 || true)"
  [ -n "$first_ns" ] && break
  sleep 0.05
done
[ -n "$first_ns" ] || { echo "soak: no frame sent in 10 s" >&2; cat "$work/svc.log" >&2; exit 1; }

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$svc_pid/stat"; }
clk_tck="$(getconf CLK_TCK)"

# Steady state: CPU counted from 5 s after the first frame (start-up cost excluded).
settle=5
[ "$seconds" -gt "$((settle * 2))" ] || settle=0
sleep "$settle"
steady_ticks0="$(cpu_ticks)"
steady_ns0="$(now_ns)"
rss_mb() { awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$svc_pid/status"; }
rest=$((seconds - settle))
rss_samples=""
for quarter in 1 2 3 4; do
  sleep "$((rest * quarter / 4 - rest * (quarter - 1) / 4))"
  rss_samples="$rss_samples $(rss_mb)"
done

end_ticks="$(cpu_ticks)"
end_ns="$(now_ns)"
hwm_kb="$(awk '/^VmHWM:/ { print $2 }' "/proc/$svc_pid/status")"

kill -TERM "$svc_pid"
svc_status=0
wait "$svc_pid" || svc_status=$?
bench_stop "$sim_pid"

json="$(grep '"requests"' "$work/sim.out" | tail -n1)"
count() { printf '%s' "$json" | grep -o "\"$1\":[0-9]*" | head -n1 | cut -d: -f2; }
r4="$(count 4)"
r23="$(count 23)"
r6="$(count 6)"
replies="$(count replies)"

awk -v launch="$launch_ns" -v first="$first_ns" -v end="$end_ns" -v s0="$steady_ns0" \
    -v t_end="$end_ticks" -v t0="$steady_ticks0" -v hz="$clk_tck" -v hwm="$hwm_kb" \
    -v r4="$r4" -v r23="$r23" -v r6="$r6" -v replies="$replies" -v tick="$tick_ms" \
    -v status="$svc_status" -v rss="$rss_samples" -v options="$*" 'BEGIN {
  run_s = (end - first) / 1e9
  ticks = run_s * 1000 / tick
  exchanges = r4 + r23 + r6
  printf "soak: %.1f s of exchange after the first frame (program exit code %d)%s\n", run_s, status, options == "" ? "" : ", options: " options
  printf "  exchanges            %d (function 4: %d, function 23: %d), replies %d\n", exchanges, r4, r23, replies
  printf "  exchanges per second %.2f (target 25)\n", exchanges / run_s
  missed = ticks - exchanges
  if (missed < 0) missed = 0
  printf "  ticks missed         %.0f of %.0f (%.2f %%)\n", missed, ticks, 100 * missed / ticks
  printf "  CPU whole run        %.2f %% of one core\n", 100 * (t_end / hz) / ((end - launch) / 1e9)
  printf "  CPU steady state     %.2f %% of one core (target < 2 %%)\n", 100 * ((t_end - t0) / hz) / ((end - s0) / 1e9)
  printf "  peak resident memory %.1f MB (VmHWM; target < 80 MB)\n", hwm / 1024
  printf "  resident memory      %s MB at each quarter of the steady run\n", rss
  printf "  launch to first frame %.0f ms (target < 500 ms)\n", (first - launch) / 1e6
}'
if [ "${SOAK_TRENDS:-0}" = 1 ]; then
  echo "  recorded rows        $(($(wc -l <"$work/soak.csv") - 1)) of $r4 status reads"
fi
