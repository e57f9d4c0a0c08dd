#!/usr/bin/env bash
# Whole output operations per second of processor time, into a string
# stream and into a file, for this kernel and for the peers installed on
# the machine (CLISP's interpreter, SBCL's evaluator), all on
# bench/printing.lsp in the same run.  Each operation takes and gives up
# its stream's lock once: the figures show what that costs a single thread.
# Usage: bench/printing.sh [path-to-zorva]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp" /tmp/zorva-printing-bench.txt' EXIT

# name | function | operations for this kernel (the peers start lower)
rows=(
  "print a list to a string stream|run-print-string|500000"
  "write-char to a string stream|run-write-char-string|2000000"
  "format a line to a string stream|run-format-string|500000"
  "print a list to a file|run-print-file|500000"
  "write-string to a file|run-write-string-file|2000000"
)

source "$here/peers.bash"

# This kernel runs the row's operations; a peer starts at a hundredth of
# them and the count grows until the run takes half a second or more.
rate() {  # rate SYSTEM FUNCTION OPERATIONS
  local n=$3 secs
  [ "$1" = zorva ] || n=$(( n / 100 > 0 ? n / 100 : 1 ))
  while :; do
    secs=$(peer_form_seconds "$1" "$here/printing.lsp" "($2 $n)")
    if [ "$1" = zorva ] || [ "$(echo "$secs >= 0.5" | bc -l)" = 1 ] || [ "$n" -ge 100000000 ]; then
      break
    fi
    n=$((n * 4))
  done
  echo "$n / ($secs + 0.000001)" | bc -l
}

peer_table 36 "operations per second" rate "${rows[@]}"
