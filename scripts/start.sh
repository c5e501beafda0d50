#!/usr/bin/env bash
# Starts the program from a build's bin folder: scripts/start.sh <bin-dir> [--demo] [args...]
# With --demo the controller simulator serves a pseudo-terminal (cycling alarms so every
# indicator colour shows) and the program runs on it through --port; the simulator stops when
# the program ends.
set -euo pipefail

bin="${1:?usage: start.sh <bin-dir> [--demo] [args...]}"
shift

demo=0
args=()
for a in "$@"; do
  if [ "$a" = "--demo" ]; then
    demo=1
  fi
  args+=("$a")
done

if [ "$demo" -eq 0 ]; then
  exec "$bin/vortan-service" "${args[@]}"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/vortan-demo.XXXXXX")"
pty="$work/ttyVortan"
sim_pid=""

svc_pid=""

cleanup() {
  if [ -n "$svc_pid" ] && kill -0 "$svc_pid" 2>/dev/null; then
    kill -TERM "$svc_pid" 2>/dev/null || true
    wait "$svc_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/vortan-sim" --link "$pty" --scenario alarms >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!

for _ in $(seq 100); do
  [ -e "$pty" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "start.sh: the controller simulator did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -e "$pty" ]; then
  echo "start.sh: the controller simulator made no pseudo-terminal in 5 s" >&2
  exit 1
fi

# The program runs as a child so that a signal to this script reaches it (it closes as if its
# window were closed) and the simulator is stopped afterwards.
"$bin/vortan-service" --port "$pty" "${args[@]}" &
svc_pid=$!
trap 'kill -TERM "$svc_pid" 2>/dev/null || true' INT TERM
status=0
while kill -0 "$svc_pid" 2>/dev/null; do
  status=0
  wait "$svc_pid" || status=$?
done
exit "$status"
