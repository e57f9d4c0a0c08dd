#!/usr/bin/env bash
# Speed-up from a second thread on independent work (bench/threads.lsp):
# a loop that allocates nothing (fib) and one that builds and drops lists,
# each job run twice on one thread and then once on each of two threads,
# several rounds; prints the median times and the best and median
# speed-ups.  SBCL (its evaluator, through a small shim for the thread
# names) runs the same file when it is installed, with smaller jobs since
# its evaluator is slower.  Run it on an otherwise idle machine with two
# processors or more; each job takes about a second on one.
# Usage: bench/threads.sh [path-to-zorva] [rounds] [fib-n] [list-rounds]
#   (SBCL: fib-n - 4 and list-rounds / 10)
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
rounds=${2:-5}
fib_n=${3:-32}
lists=${4:-1000}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "processors: $(nproc)   load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== zorva"
{ cat "$here/threads.lsp"; echo "(run-bench $fib_n $lists $rounds)"; } > "$tmp/zorva.lsp"
"$zorva" "$tmp/zorva.lsp"

if command -v sbcl > /dev/null; then
  echo "== sbcl (evaluator)"
  {
    echo "(setf sb-ext:*evaluator-mode* :interpret)"
    echo '(defpackage "BT" (:use "CL") (:export "MAKE-THREAD" "JOIN-THREAD"))'
    echo '(defun bt:make-thread (f &key name) (sb-thread:make-thread f :name name))'
    echo '(defun bt:join-thread (th) (sb-thread:join-thread th))'
    cat "$here/threads.lsp"
    echo "(run-bench $((fib_n - 4)) $((lists / 10 > 0 ? lists / 10 : 1)) $rounds)"
  } > "$tmp/sbcl.lsp"
  sbcl --script "$tmp/sbcl.lsp"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
