#!/usr/bin/env bash
# Speed-up from a second thread on independent work (bench/threads.lsp):
# a loop that allocates nothing and one that builds and drops lists, each
# job run twice on one thread and then once on each of two threads, in
# wall-clock seconds.  SBCL (its evaluator, through a small shim for the
# thread names) runs the same file when it is installed.  Run it on an
# otherwise idle machine with two processors or more.
# Usage: bench/threads.sh [path-to-zorva] [fib-n] [list-rounds]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
fib_n=${2:-28}
rounds=${3:-400}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "processors: $(nproc)"
echo "== zorva"
{ cat "$here/threads.lsp"; echo "(run-bench $fib_n $rounds)"; } > "$tmp/zorva.lsp"
"$zorva" "$tmp/zorva.lsp"

if command -v sbcl > /dev/null; then
  echo "== sbcl (evaluator)"
  {
    echo "(setf sb-ext:*evaluator-mode* :interpret)"
    echo '(defpackage "BT" (:use "CL") (:export "MAKE-THREAD" "JOIN-THREAD"))'
    echo '(defun bt:make-thread (f &key name) (sb-thread:make-thread f :name name))'
    echo '(defun bt:join-thread (th) (sb-thread:join-thread th))'
    cat "$here/threads.lsp"
    echo "(run-bench $fib_n $rounds)"
  } > "$tmp/sbcl.lsp"
  sbcl --script "$tmp/sbcl.lsp"
fi
