#!/usr/bin/env bash
# The real programs against the simulator on each line model: the window as it runs by default
# (it times a sample of the replies) for a while, then the window with a frame trace (which times
# every reply) as long, then a parameter backup and a restore with vortanctl. One row per model:
# the plain window's replies per second and collisions on the bus (the simulator's counters over
# that part), the traced window's exchanges, share of good ones and exchanges per second,
# collisions over everything after the plain window (traced window and vortanctl together), the
# exit code and time of the backup and of the restore, and vortanctl's share of good exchanges
# over both (from their traces).
#
#   bench/lines/lines.sh <bin-dir> [seconds=20]
#   LINES_GATEWAYS=1 bench/lines/lines.sh <bin-dir>   # also raw TCP and RFC 2217 through ser2net
#
# Use the bin folder of a Release build. The models are vortan-sim's --line presets: ideal (a
# pseudo-terminal), usb (FTDI packets, 16 ms latency timer, 10 ms turnaround), slow (paced,
# 30 ms turnaround), echo (a 2-wire adapter hearing its requests), gateway (replies 60 ms late).
# The gateway rows bridge the simulator's device with ser2net and need tcp:// and rfc2217://
# port names; a program that cannot reach them makes the row say so.
set -euo pipefail

bin="$(cd "${1:?usage: lines.sh <bin-dir> [seconds]}" && pwd)"
seconds="${2:-20}"

# shellcheck source=../support/procs.sh
. "$(dirname "$0")/../support/procs.sh"
bench_begin lines

now_ns() { date +%s%N; }

# A private copy of the window program, so its configuration file lands in the scratch folder.
cp "$bin/vortan-service" "$work/"

# start_sim NAME ARGS...: the simulator with its client end linked at $work/tty-NAME; it takes
# "stats" on a pipe kept open on $sim_fd, so its counters can be read mid-run.
sim_fd=""
start_sim() {
  local name="$1"
  shift
  mkfifo "$work/sim-$name.in"
  exec {sim_fd}<>"$work/sim-$name.in"
  bench_sim_stdin="$work/sim-$name.in" bench_start_sim "$work/tty-$name" "$work/sim-$name" "$@" ||
    exit 1
}

# sim_counter NAME KEY: the simulator's counter KEY (replies, collisions) so far.
sim_counter() {
  local lines
  lines="$(wc -l <"$work/sim-$1.out")"
  echo stats >&"$sim_fd"
  for _ in $(seq 100); do
    [ "$(wc -l <"$work/sim-$1.out")" -gt "$lines" ] && break
    sleep 0.02
  done
  tail -n1 "$work/sim-$1.out" | grep -o "\"$2\":[0-9]*" | cut -d: -f2
}

# stop_sim NAME: ends the simulator; its collisions go to $collisions.
collisions=""
stop_sim() {
  bench_stop "$sim_pid"
  exec {sim_fd}>&-
  collisions="$(grep '"requests"' "$work/sim-$1.out" | tail -n1 |
    grep -o '"collisions":[0-9]*' | cut -d: -f2 || true)"
}

# window PORT [TRACE]: vortan-service offscreen on PORT for the run's seconds, with a frame trace
# when TRACE is given.
window() {
  local trace=()
  [ -n "${2:-}" ] && trace=(--trace "$2")
  QT_QPA_PLATFORM=offscreen "$work/vortan-service" --port "$1" "${trace[@]}" \
    >/dev/null 2>"$work/window.err" &
  local pid=$!
  bench_track "$pid"
  sleep "$seconds"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# ctl NAME ARGS...: vortanctl with a time limit; prints "exit-code seconds".
ctl() {
  local name="$1" t0 rc=0
  shift
  t0="$(now_ns)"
  timeout 120 "$bin/vortanctl" -q "$@" >>"$work/ctl-$name.out" 2>&1 || rc=$?
  awk -v rc="$rc" -v ns="$(($(now_ns) - t0))" 'BEGIN { printf "%d %.2f", rc, ns / 1e9 }'
}

# trace_figures TRACE: exchanges, share of good ones in %, exchanges per second.
trace_figures() {
  awk -F'\t' -v s="$seconds" '!/^#/ && NF >= 4 { n++; if ($4 == "good") good++ }
    END { printf "%d %.1f %.2f", n, n ? 100 * good / n : 0, n / s }' "$1"
}

# ctl_good TRACE...: vortanctl's share of good exchanges in %, over its traces (requests only).
ctl_good() {
  cat "$@" 2>/dev/null | awk -F'\t' '!/^#/ && NF >= 4 && $2 != "-" { n++; if ($4 == "good") good++ }
    END { if (n) printf "%.1f", 100 * good / n; else printf "-" }'
}

# A parameter set to restore when a line's own backup fails.
start_sim reference
ctl reference backup -o "$work/reference.ini" --port "$work/tty-reference" >/dev/null
stop_sim reference
[ -s "$work/reference.ini" ] || { echo "lines: no backup on the ideal line" >&2; exit 1; }

# row NAME PORT: the window, the backup and the restore on a line that is up, then the row.
row() {
  local name="$1" port="$2" figures backup restore set r0 c0 plain
  r0="$(sim_counter "$name" replies)"
  window "$port"
  c0="$(sim_counter "$name" collisions)"
  plain="$(awk -v r="$(($(sim_counter "$name" replies) - r0))" -v s="$seconds" \
    'BEGIN { printf "%.2f", r / s }') $c0"
  window "$port" "$work/trace-$name.txt"
  figures="$(trace_figures "$work/trace-$name.txt")"
  backup="$(ctl "$name" backup -o "$work/set-$name.ini" --port "$port" \
    --trace "$work/ctl-backup-$name.txt")"
  set="$work/set-$name.ini"
  [ "${backup%% *}" = 0 ] || set="$work/reference.ini"
  restore="$(ctl "$name" restore "$set" --port "$port" --trace "$work/ctl-restore-$name.txt")"
  stop_sim "$name"
  [ -n "$collisions" ] && collisions=$((collisions - c0))
  print_row "$name" "$plain $figures ${collisions:-?} $backup $restore \
    $(ctl_good "$work/ctl-backup-$name.txt" "$work/ctl-restore-$name.txt")"
}

printf 'Line models, %d s of the window as it runs, %d s with --trace, then vortanctl backup and restore\n' \
  "$seconds" "$seconds"
fmt='%-16s %9s %6s %9s %7s %7s %10s %9s %9s %10s %10s %9s\n'
# shellcheck disable=SC2059
printf "$fmt" model 'plain r/s' 'coll' exchanges good% 'exch/s' collisions 'backup' 'backup s' \
  'restore' 'restore s' 'ctl good%'
print_row() {
  local name="$1" pr pc n good rate coll brc bs rrc rs cg
  read -r pr pc n good rate coll brc bs rrc rs cg <<<"$2"
  # shellcheck disable=SC2059
  printf "$fmt" "$name" "$pr" "$pc" "$n" "$good" "$rate" "$coll" "rc $brc" "$bs" "rc $rrc" "$rs" \
    "$cg"
}

for model in ideal usb slow echo gateway; do
  start_sim "$model" --line "$model"
  row "$model" "$work/tty-$model"
done

if [ "${LINES_GATEWAYS:-0}" = 1 ]; then
  if ! command -v ser2net >/dev/null; then
    echo "gateway rows skipped: ser2net is not installed"
    exit 0
  fi
  for kind in tcp rfc2217; do
    name="ser2net-$kind"
    port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    accepter="tcp,localhost,$port"
    [ "$kind" = rfc2217 ] && accepter="telnet(rfc2217),tcp,localhost,$port"
    start_sim "$name" --line ideal
    cat >"$work/$name.yaml" <<EOF
connection: &vortan
  accepter: $accepter
  connector: serialdev,$work/tty-$name,115200e81,local
  options:
    kickolduser: true
EOF
    ser2net -n -u -c "$work/$name.yaml" -P "$work/$name.pid" >"$work/$name.log" 2>&1 &
    gateway_pid=$!
    bench_track "$gateway_pid"
    url="$kind://localhost:$port"
    up=""
    for _ in $(seq 20); do
      if timeout 10 "$bin/vortanctl" -q --port "$url" status >/dev/null 2>&1; then
        up=1
        break
      fi
      sleep 0.25
    done
    if [ -z "$up" ]; then
      echo "$name skipped: vortanctl --port $url does not answer (no $kind:// support yet?)"
      stop_sim "$name"
    else
      row "$name" "$url"
    fi
    kill -TERM "$gateway_pid" 2>/dev/null || true
    wait "$gateway_pid" 2>/dev/null || true
  done
fi
