#!/usr/bin/env bash
# Whole-list walks per second of processor time (LENGTH, MEMBER, ASSOC and
# LAST over a list of 10 000 elements) for this kernel and for the peers
# installed on the machine, all on bench/lists.lsp in the same run.  The
# kernel's walks check for a circular list as they go; run this with an
# older kernel as well to see what the check costs.
# Usage: bench/lists.sh [path-to-zorva]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name | function | walks for this kernel (the peers run as many)
rows=(
  "length|run-length|20000"
  "member, not found|run-member|20000"
  "assoc, not found|run-assoc|10000"
  "last|run-last|20000"
)

source "$here/peers.bash"

run_one() {  # run_one SYSTEM FORM: seconds beyond the empty run
  peer_form_seconds "$1" "$here/lists.lsp" "$2"
}

walk_rate() {  # walk_rate SYSTEM FUNCTION WALKS
  local secs
  secs=$(run_one "$1" "($2 $3)")
  echo "$3 / ($secs + 0.000001)" | bc -l
}

peer_table 24 "walks of 10 000 elements per second" walk_rate "${rows[@]}"
