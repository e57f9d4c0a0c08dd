# Threads at the console: while the first thread is in a break loop (it
# holds the interpreter lock), another thread that prints stops at its next
# output and goes on when the loop is left; leaving the system ends it.
source "$(dirname "$0")/common.bash"

start 80 25
zorva

enter '(defvar *n* 0)'
enter '(defun ticker () (loop (format t "~&tick ~D~%" (incf *n*)) (sleep 0.1)))'
enter '(progn (bt:make-thread (function ticker) :name "ticker") nil)'
check "the other thread prints" '^tick 5$'

enter '(car 5)'
check_row_matches "a break loop at the console" 24 '^Break level 1'
# The ticker counts, then waits to print: the count stands still.
counts() { screen | grep -Eo '^\([0-9]+\)$' | tr -d '()'; }
two_counts() { [ "$(counts | wc -l)" -ge "$1" ]; }
sleep 0.5  # a sleep or a print under way when the loop began ends first
enter '(list *n*)'
wait_until two_counts 1
sleep 1.5
enter '(list *n*)'
wait_until two_counts 2
first=$(counts | head -1)
second=$(counts | tail -1)
if [ -n "$first" ] && [ "$first" = "$second" ]; then
  pass
else
  fail "the other thread waits while the break loop runs (count $first, then $second)"
fi
# The ticks printed before it stay above; none comes below.
if screen | sed -n '/^> (car 5)$/,$p' | grep -q '^tick '; then
  fail "no tick shown in the break loop"
else
  pass
fi

keys C-M-Home
check_row "top level again" 24 "Top level"
if wait_until ticks_after "${second:-0}"; then pass; else fail "the ticks go on after the break loop"; fi

enter '(exit)'
check "exit code" '^rc=0$'
check_left_cleanly "after (exit) with a thread running"

finish
