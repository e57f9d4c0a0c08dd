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

# The first thread waiting for a line of its input while other threads
# interrupt it: the interrupts run at once, not at the next line, and what
# was read of the line is still the line's after them.  EXIT from a
# started thread ends the process while the first waits for input.
fifo="$WORK/in"
mkfifo "$fifo"
timeout 20 "$ZORVA" -ROL "$IMAGE" <"$fifo" >"$WORK/out" 2>&1 &
pid=$!
exec 3>"$fifo"
printf '(defvar *main* (bt:current-thread))\n' >&3
printf '(progn (bt:make-thread (lambda () (sleep 0.3) (bt:interrupt-thread *main* (lambda () (format t "~&poked ~A~%%" (bt:thread-name (bt:current-thread))))))) nil)\n' >&3
printf '(list 1' >&3
poked=no
for _ in $(seq 100); do
  if grep -q '^poked' "$WORK/out"; then
    poked=yes
    break
  fi
  sleep 0.1
done
printf ' 2)\n' >&3
printf '(progn (bt:make-thread (lambda () (sleep 0.3) (exit 4))) nil)\n' >&3
wait "$pid"
RC=$?
exec 3>&-
OUT=$(cat "$WORK/out")
ERR=""
if [ "$poked" == yes ]; then pass; else fail "an interrupt of the first thread waiting for input runs before the line ends"; fi
expect_lines "the line read before and after it; EXIT from a thread meanwhile" 4 "poked main thread" $'\n(1 2)\n'

finish
