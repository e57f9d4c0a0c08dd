#!/usr/bin/env bash
# Calls per second of processor time of generic functions, accessors and MAKE-INSTANCE, for
# this kernel and for the peers installed on the machine (CLISP's
# interpreter, SBCL's evaluator), all on bench/clos.lsp in the same run.
# Usage: bench/clos.sh [path-to-zorva]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name | function | calls to start with
rows=(
  "plain function|run-plain|20000"
  "one-method generic function|run-one-method|20000"
  ":around/:before/call-next-method|run-chained|5000"
  "reader accessor|run-reader|20000"
  "writer accessor|run-writer|20000"
  "make-instance|run-make-instance|5000"
)

source "$here/peers.bash"

run_one() {  # run_one SYSTEM FORM: seconds beyond the empty run
  peer_form_seconds "$1" "$here/clos.lsp" "$2"
}

# A rate from runs long enough to dwarf start-up: the count grows until
# the run takes half a second or more, or the next count would pass the
# largest fixnum (past it, the loop counter would be a bignum).
rate() {  # rate SYSTEM FUNCTION START-COUNT
  local n=$3 secs
  while :; do
    secs=$(run_one "$1" "($2 $n)")
    if [ "$(echo "$secs >= 0.5" | bc -l)" = 1 ] || [ $((n * 4)) -gt 8388607 ]; then break; fi
    n=$((n * 4))
  done
  echo "$n / ($secs + 0.000001)" | bc -l
}

peer_table 34 "calls per second" rate "${rows[@]}"
