#!/usr/bin/env bash
# Calls per second of generic functions, accessors and MAKE-INSTANCE, for
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

now() { date +%s.%N; }

timed() {
  local t0 t1
  t0=$(now)
  "$@" > "$tmp/out" 2>&1
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}

script() {  # script CALL
  cat "$here/clos.lsp"
  echo "$1"
}

run_one() {  # run_one SYSTEM FORM: seconds beyond the empty run
  local sys=$1 form=$2 base full
  script "$form" > "$tmp/prog.lsp"
  script "nil" > "$tmp/empty.lsp"
  case $sys in
    zorva)
      base=$(timed "$zorva" < "$tmp/empty.lsp")
      full=$(timed "$zorva" < "$tmp/prog.lsp") ;;
    clisp)
      base=$(timed clisp -q -norc "$tmp/empty.lsp")
      full=$(timed clisp -q -norc "$tmp/prog.lsp") ;;
    sbcl)
      local pre="(setf sb-ext:*evaluator-mode* :interpret)"
      { echo "$pre"; cat "$tmp/empty.lsp"; } > "$tmp/e2.lsp"
      { echo "$pre"; cat "$tmp/prog.lsp"; } > "$tmp/p2.lsp"
      base=$(timed sbcl --script "$tmp/e2.lsp")
      full=$(timed sbcl --script "$tmp/p2.lsp") ;;
  esac
  echo "$full - $base" | bc -l
}

systems=(zorva)
command -v clisp > /dev/null && systems+=(clisp)
command -v sbcl > /dev/null && systems+=(sbcl)

# A rate from runs long enough to dwarf start-up: the count grows until
# the run takes half a second or more.
rate() {  # rate SYSTEM FUNCTION START-COUNT
  local n=$3 secs
  while :; do
    secs=$(run_one "$1" "($2 $n)")
    if [ "$(echo "$secs >= 0.5" | bc -l)" = 1 ] || [ "$n" -ge 100000000 ]; then break; fi
    n=$((n * 4))
  done
  echo "$n / $secs" | bc -l
}

printf "%-34s" row
for s in "${systems[@]}"; do printf "%14s" "$s"; done
printf "   (calls per second)\n"
for r in "${rows[@]}"; do
  IFS='|' read -r name fn calls <<< "$r"
  printf "%-34s" "$name"
  for s in "${systems[@]}"; do
    printf "%14.0f" "$(rate "$s" "$fn" "$calls")"
  done
  printf "\n"
done
