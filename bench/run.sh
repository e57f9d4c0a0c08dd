#!/usr/bin/env bash
# Calls per second of the call-heavy programs, for this kernel and for the
# peers installed on the machine (CLISP's interpreter, SBCL's evaluator).
# Usage: bench/run.sh [path-to-zorva]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name | call | calls (or loop passes) made by one call | repetitions
programs=(
  "tak|(tak 18 12 6)|63609|20"
  "fib|(fib 25)|242785|5"
  "ctak|(ctak 18 12 6)|63609|10"
  "stak|(stak 18 12 6)|63609|10"
  "loops|(loops 1000)|3500|200"
)

now() { date +%s.%N; }

# run LABEL COMMAND... < input: prints seconds
timed() {
  local t0 t1
  t0=$(now)
  "$@" > "$tmp/out" 2>&1
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}

script() {  # script CALL REPS
  cat "$here/programs.lsp"
  echo "(dotimes (i $2) $1)"
}

run_one() {  # run_one SYSTEM CALL REPS
  local sys=$1 call=$2 reps=$3
  script "$call" "$reps" > "$tmp/prog.lsp"
  script "$call" 0 > "$tmp/empty.lsp"
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

printf "%-6s" program
for s in "${systems[@]}"; do printf "%16s" "$s"; done
printf "   (calls per second)\n"
for p in "${programs[@]}"; do
  IFS='|' read -r name call calls reps <<< "$p"
  printf "%-6s" "$name"
  for s in "${systems[@]}"; do
    secs=$(run_one "$s" "$call" "$reps")
    rate=$(echo "$calls * $reps / ($secs + 0.000001)" | bc -l)
    printf "%16.0f" "$rate"
  done
  printf "\n"
done
