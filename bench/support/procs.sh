# Sourced by the benchmark scripts: a scratch folder and the processes started for a run, ended
# and removed however the script stops (finished, failed or interrupted).
#
#   bench_begin NAME              $work becomes a fresh scratch folder vortan-NAME.XXXXXX
#   bench_track PID...            the processes the exit trap ends
#   bench_stop PID                SIGTERM, then waits for it to go
#   bench_start_sim PTY LOG ARGS  vortan-sim ($bin) with its client end linked at PTY, output to
#                                 LOG.out and LOG.err, standard input from $bench_sim_stdin
#                                 (default none); $sim_pid is its process; fails if the link
#                                 does not appear in 10 s
bench_pids=()
work=""

bench_stop() {
  if kill -0 "$1" 2>/dev/null; then
    kill -TERM "$1" 2>/dev/null || true
  fi
  wait "$1" 2>/dev/null || true
}

bench_cleanup() {
  local pid
  for pid in "${bench_pids[@]}"; do
    bench_stop "$pid"
  done
  [ -n "$work" ] && rm -rf "$work"
}

bench_begin() {
  work="$(mktemp -d "${TMPDIR:-/tmp}/vortan-$1.XXXXXX")"
  trap bench_cleanup EXIT
}

bench_track() { bench_pids+=("$@"); }

sim_pid=""
bench_start_sim() {
  local pty="$1" log="$2"
  shift 2
  rm -f "$pty"
  "$bin/vortan-sim" --link "$pty" "$@" <"${bench_sim_stdin:-/dev/null}" >"$log.out" 2>"$log.err" &
  sim_pid=$!
  bench_track "$sim_pid"
  for _ in $(seq 200); do
    [ -e "$pty" ] && return 0
    sleep 0.05
  done
  echo "simulator did not start ($*)" >&2
  cat "$log.err" >&2
  return 1
}
