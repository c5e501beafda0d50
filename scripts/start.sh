#!/usr/bin/env bash
# Starts the program from a build's bin folder: scripts/start.sh <bin-dir> [args...]
# Every option, --demo included, is the program's own: with --demo it starts the controller
# simulator beside it and stops it when it ends.
set -euo pipefail

bin="${1:?usage: start.sh <bin-dir> [args...]}"
shift
exec "$bin/vortan-service" "$@"
