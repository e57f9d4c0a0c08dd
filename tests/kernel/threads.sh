# Threads at the end of a program: the process ends promptly with the exit
# code it asked for, whatever its other threads are doing; EXIT from a
# started thread ends the process too.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"
cd "$WORK/cwd" || exit 1
run_script() { run_kernel_in "$WORK/cwd" "$ZORVA" -ROL "$IMAGE" "$@"; }

# A thread that loops for ever, one that waits on a lock for ever, one that
# sleeps: none of them holds the end up.
cat >forever.lsp <<'LISP'
(bt:make-thread (lambda () (loop)) :name "spinner")
(let ((l (bt:make-lock)))
  (bt:acquire-lock l)
  (bt:make-thread (lambda () (bt:acquire-lock l)) :name "waiter"))
(bt:make-thread (lambda () (sleep 1000)) :name "sleeper")
(sleep 0.1)
(format t "done~%")
LISP
run_script forever.lsp
if [ "$RC" -eq 0 ] && [ "$OUT" == "done" ] && [ "$MS" -lt 5000 ]; then
  pass
else
  fail "threads still running at the end: exit 0 promptly (rc $RC, ${MS} ms, output: $OUT)"
fi

# EXIT in a started thread ends the process with its code, while the first
# thread waits for something else.
cat >exit.lsp <<'LISP'
(bt:make-thread (lambda () (sleep 0.1) (exit 3)))
(bt:join-thread (bt:make-thread (lambda () (sleep 1000))))
(format t "not reached~%")
LISP
run_script exit.lsp
if [ "$RC" -eq 3 ] && [ -z "$OUT" ]; then pass; else fail "EXIT from a thread (rc $RC, output: $OUT)"; fi

finish
