# The console in line mode (input and output not a terminal): values print
# exactly as PRIN1 prints them into a string, Control-C interrupts an
# evaluation (even a loop that evaluates nothing) into a break loop that
# says why, and at the prompt drops the line; the window built-ins work on
# a screen nobody sees.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"

# session INPUT: a piped session; OUT, RC.
session() {
  OUT=$(cd "$WORK/cwd" && printf '%s' "$1" | timeout 60 "$ZORVA" -ROL "$IMAGE" 2>"$WORK/stderr")
  RC=$?
  ERR=$(cat "$WORK/stderr")
}

# No line breaks the user did not ask for: a string inside a list stays
# on the line, and a long list is one line however long.
session $'(list "x" 1)\n(list 1 "two" (list "three" #\\a))\n(make-list 40 :initial-element "ab")\n'
long='("ab"'$(printf ' "ab"%.0s' $(seq 39))')'
expect_lines "values print as PRIN1 does" 0 $'\n("x" 1)\n' $'\n(1 "two" ("three" #\\a))\n' $'\n'"$long"$'\n'

# Pretty printing still keeps the right margin.
session $'(let ((*print-pretty* t) (*print-right-margin* 30)) (print (quote (defun f (x) (let ((y (* x x))) (+ y y y))))) nil)\n'
if [[ $OUT == *$'\n(DEFUN F'*$'\n'*'(+ Y Y Y)))'* ]]; then pass; else fail "pretty printing breaks at the margin"; fi

# The window built-ins on the unseen screen.
session $'(let ((w (%make-window-stream (vector 2 2 4 20) 30))) (princ "hidden" w) (list (%window-cursor w) (%window-size w) (%window-size nil)))\n'
expect_lines "windows in line mode" 0 $'\n(#(0 6) #(3 19) #(25 80))\n'

# Control-C: an endless loop with an empty body is interrupted into a
# break loop with a message; the break loop goes on reading.
cd "$WORK/cwd" || exit 1
fifo="$WORK/in"
mkfifo "$fifo"
# timeout passes the interrupt on to the kernel.
timeout 60 "$ZORVA" -ROL "$IMAGE" <"$fifo" >"$WORK/out" 2>&1 &
pid=$!
exec 3>"$fifo"
printf '(loop)\n' >&3
sleep 1
kill -INT "$pid"
sleep 0.5
printf '(+ 40 2)\n' >&3
exec 3>&-
wait "$pid"
RC=$?
OUT=$(cat "$WORK/out")
expect_lines "Control-C interrupts (loop)" 1 "Break: interrupted by Control-C" "Break level 1" $'\n42\n'

# Control-C stops the printing of a circular list at the top level (the
# built-ins that walk a whole list find a ring themselves: see
# tests/lisp/robustness.lsp).  Each form makes a file when it has
# started (its output may wait in the pipe's buffer); the
# interrupt is sent until its break loop has said so, and the top level
# is taken back from there.
timeout 120 "$ZORVA" -ROL "$IMAGE" <"$fifo" >"$WORK/out" 2>&1 &
pid=$!
exec 3>"$fifo"
# The kernel itself is signalled: timeout passes on only the first one.
kernel=
for _ in $(seq 100); do kernel=$(pgrep -P "$pid") && break; sleep 0.1; done
[ -n "$kernel" ] || { echo "FAIL: the kernel did not start"; exit 1; }
printf '(progn (setq c (list 1 2 3)) (setf (cdr (last c)) c) (setq a (list (cons 1 2))) (setf (cdr a) a) nil)\n' >&3
n=0
for form in 'c'; do
  n=$((n + 1))
  printf '(progn (close (open "started-%d" :direction :output)) %s)\n' "$n" "$form" >&3
  for _ in $(seq 300); do [ -e "started-$n" ] && break; sleep 0.1; done
  for _ in $(seq 100); do
    [ "$(grep -c 'interrupted by Control-C' "$WORK/out")" -ge "$n" ] && break
    kill -INT "$kernel"
    sleep 0.3
  done
  printf '(%%abort-to-top-level)\n' >&3
done
printf '(list (car c) (car (car a)))\n' >&3
exec 3>&-
wait "$pid"
RC=$?
OUT=$(cat "$WORK/out")
if [ "$(grep -c 'interrupted by Control-C' <<<"$OUT")" -eq 1 ]; then
  pass
else
  fail "Control-C stops the printing once"
  echo "$OUT" | tail -20
fi
expect_lines "and the top level goes on" 0 $'\n(1 1)\n'

# What a computation prints is seen while it runs on, in a pipe too.
timeout 60 "$ZORVA" -ROL "$IMAGE" <"$fifo" 2>&1 | cat >"$WORK/out" &
exec 3>"$fifo"
printf '(progn (print (quote running)) (sleep 4) (quote done))\n' >&3
seen=no
for _ in $(seq 30); do grep -q RUNNING "$WORK/out" && seen=yes && break; sleep 0.1; done
if [ $seen = yes ] && ! grep -q DONE "$WORK/out"; then pass; else fail "output shown while the computation runs"; fi
exec 3>&-
wait

finish
