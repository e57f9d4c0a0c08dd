#!/usr/bin/env bash
# Handlers and restarts established and taken, per second of processor
# time, for this kernel and for the peers installed on the machine
# (CLISP's interpreter, SBCL's evaluator), all on bench/conditions.lsp in
# the same run.  The first row is a loop of a million HANDLER-CASE
# entries with nothing signalled, the second a loop that signals and
# handles a SIMPLE-ERROR.
# Usage: bench/conditions.sh [path-to-zorva]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name | function | passes for this kernel (the peers start lower)
rows=(
  "handler-case, nothing signalled|run-handler-case|1000000"
  "simple-error signalled and handled|run-signal|20000"
  "own condition, declined, then handled|run-own-condition|20000"
  "restart-case, no restart taken|run-restart-case|200000"
  "restart taken from a handler|run-invoke-restart|20000"
  "system error under ignore-errors|run-system-error|20000"
)

source "$here/peers.bash"

rate() {  # rate SYSTEM FUNCTION PASSES
  peer_rate "$here/conditions.lsp" "$@"
}

peer_table 40 "passes per second" rate "${rows[@]}"
