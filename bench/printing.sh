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

rate() {  # rate SYSTEM FUNCTION OPERATIONS
  peer_rate "$here/printing.lsp" "$@"
}

peer_table 36 "operations per second" rate "${rows[@]}"
