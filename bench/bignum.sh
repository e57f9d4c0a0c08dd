#!/usr/bin/env bash
# Integer arithmetic beyond 64 bits: milliseconds per call of the programs
# of bench/bignum.lsp (factorials, digits of pi by a spigot, printing a
# long integer) for this kernel and for the peers installed on the machine
# (CLISP's interpreter, SBCL's evaluator), in the same run.  First each
# system's answers are printed, so that the figures compare equal work.
# The times are processor time (user and system) of the whole run less
# that of a run without the calls, so other work on a shared machine
# disturbs them little.
# Usage: bench/bignum.sh [path-to-zorva]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name | call | repetitions
programs=(
  "fact 1000|(fact 1000)|100"
  "fact 5000|(fact 5000)|20"
  "pi 2000 digits|(pi-digits 2000)|3"
  "print 10000!|(decimal-length *f10000*)|20"
)
setup="(defparameter *f10000* (fact 10000))"
check="(print (list (mod (fact 1000) 1000000007) (mod (fact 5000) 1000000007) (pi-digits 2000) (decimal-length *f10000*)))"

script() {  # script FORM REPS: the programs, the set-up, the form REPS times
  cat "$here/bignum.lsp"
  echo "$setup"
  echo "(dotimes (i $2) $1)"
}

# run SYSTEM FILE: runs the file, output to $tmp/out
run() {
  case $1 in
    zorva) "$zorva" "$2" ;;
    clisp) clisp -q -norc "$2" ;;
    sbcl)
      { echo "(setf sb-ext:*evaluator-mode* :interpret)"; cat "$2"; } > "$tmp/sbcl.lsp"
      sbcl --script "$tmp/sbcl.lsp" ;;
  esac > "$tmp/out" 2>&1
}

# seconds SYSTEM FILE: the processor time of the run, from the children's
# line of `times` ("1m2.345s 0m0.678s").
seconds() {
  local line
  line=$( (run "$1" "$2"; times) | tail -n 1)
  echo "$line" | sed -E 's/([0-9]+)m([0-9.]+)s ([0-9]+)m([0-9.]+)s/\1 * 60 + \2 + \3 * 60 + \4/' | bc -l
}

systems=(zorva)
command -v clisp > /dev/null && systems+=(clisp)
command -v sbcl > /dev/null && systems+=(sbcl)

for s in "${systems[@]}"; do
  { cat "$here/bignum.lsp"; echo "$setup"; echo "$check"; } > "$tmp/check.lsp"
  run "$s" "$tmp/check.lsp"
  printf "%-6s %s\n" "$s" "$(tr -s ' \n' ' ' < "$tmp/out")"
done
echo

printf "%-16s" program
for s in "${systems[@]}"; do printf "%12s" "$s"; done
printf "   (milliseconds per call)\n"
for p in "${programs[@]}"; do
  IFS='|' read -r name call reps <<< "$p"
  printf "%-16s" "$name"
  for s in "${systems[@]}"; do
    script "$call" 0 > "$tmp/empty.lsp"
    script "$call" "$reps" > "$tmp/prog.lsp"
    base=$(seconds "$s" "$tmp/empty.lsp")
    full=$(seconds "$s" "$tmp/prog.lsp")
    printf "%12.2f" "$(echo "($full - $base) * 1000 / $reps" | bc -l)"
  done
  printf "\n"
done
