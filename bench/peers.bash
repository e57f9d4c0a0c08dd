# Shared by the benchmark scripts that compare this kernel with the peers
# installed on the machine (CLISP's interpreter, SBCL's evaluator).
# Sourced, not run.  Expects $zorva (the kernel) and $tmp (a scratch
# directory).

# The systems to measure: this kernel, then the peers that are installed.
peer_systems=(zorva)
command -v clisp > /dev/null && peer_systems+=(clisp)
command -v sbcl > /dev/null && peer_systems+=(sbcl)

# Seconds of processor time (user and system) a command takes: steadier
# than the clock on a machine that runs other work too.
cpu_seconds() {
  local TIMEFORMAT='%3U + %3S' t
  t=$( { time "$@" > "$tmp/out" 2>&1; } 2>&1 )
  echo "$t" | bc -l
}

# peer_seconds SYSTEM FILE: processor seconds SYSTEM takes to load and run
# the Lisp file FILE (SBCL with its evaluator, not its compiler).
peer_seconds() {
  local sys=$1 file=$2
  case $sys in
    zorva) cpu_seconds "$zorva" < "$file" ;;
    clisp) cpu_seconds clisp -q -norc "$file" ;;
    sbcl)
      { echo "(setf sb-ext:*evaluator-mode* :interpret)"; cat "$file"; } > "$tmp/sbcl.lsp"
      cpu_seconds sbcl --script "$tmp/sbcl.lsp" ;;
  esac
}

# peer_form_seconds SYSTEM FILE FORM: processor seconds SYSTEM takes for
# FORM after loading the Lisp file FILE, beyond loading FILE alone.
peer_form_seconds() {
  { cat "$2"; echo "$3"; } > "$tmp/prog.lsp"
  { cat "$2"; echo nil; } > "$tmp/empty.lsp"
  echo "$(peer_seconds "$1" "$tmp/prog.lsp") - $(peer_seconds "$1" "$tmp/empty.lsp")" | bc -l
}

# peer_rate FILE SYSTEM FUNCTION COUNT: how many times per second of
# processor time FUNCTION of the Lisp file FILE does its work when called
# with COUNT.  This kernel runs COUNT; a peer starts at a hundredth of it
# and the count grows until the run takes half a second or more.
peer_rate() {
  local file=$1 sys=$2 fn=$3 n=$4 secs
  [ "$sys" = zorva ] || n=$(( n / 100 > 0 ? n / 100 : 1 ))
  while :; do
    secs=$(peer_form_seconds "$sys" "$file" "($fn $n)")
    if [ "$sys" = zorva ] || [ "$(echo "$secs >= 0.5" | bc -l)" = 1 ] || [ "$n" -ge 100000000 ]; then
      break
    fi
    n=$((n * 4))
  done
  echo "$n / ($secs + 0.000001)" | bc -l
}

# peer_table WIDTH UNIT CELL ROW...: one line a ROW ("name|function|count"),
# one column a system; a cell is what `CELL SYSTEM FUNCTION COUNT` prints
# (a rate, shown to the unit), UNIT is said after the header.
peer_table() {
  local width=$1 unit=$2 cell=$3 r name fn count s
  shift 3
  printf "%-${width}s" row
  for s in "${peer_systems[@]}"; do printf "%12s" "$s"; done
  printf "   (%s)\n" "$unit"
  for r in "$@"; do
    IFS='|' read -r name fn count <<< "$r"
    printf "%-${width}s" "$name"
    for s in "${peer_systems[@]}"; do printf "%12.0f" "$("$cell" "$s" "$fn" "$count")"; done
    printf "\n"
  done
}
