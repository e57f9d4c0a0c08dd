# An error with no handler in a started thread, in an interactive
# session: that thread's break loop at the console.  Its message and
# prompt show, forms are evaluated in it, and leaving it ends the thread;
# meanwhile the first thread's half-typed line makes way and a third
# thread that prints waits.  Afterwards the first thread's line comes
# back as it was and is entered as usual.
source "$(dirname "$0")/common.bash"

start 80 40
zorva

enter '(defvar *n* 0)'
enter '(defun ticker () (loop (format t "~&tick ~D~%" (incf *n*)) (sleep 0.2)))'
enter '(progn (bt:make-thread (function ticker) :name "ticker") nil)'
check "the other thread prints" '^tick 2$'
enter '(progn (bt:make-thread (lambda () (sleep 1.5) (car 7)) :name "failing") nil)'
type_text '(+ 40'
check "the error of the started thread" '^Error: The argument 7 is of the wrong type'
check "its break loop prompts" '^Break> ?$'
check_row_matches "the banner" 39 '^Break level 1'
check_gone "the first thread's line makes way" '\(\+ 40'

sleep 0.5  # a sleep of the ticker under way when the loop began ends first
enter '(list (bt:thread-name (bt:current-thread)) *n*)'
check "evaluated in the failing thread" '^\("failing" [0-9]+\)$'
counted=$(screen | grep -Eo '^\("failing" [0-9]+\)$' | grep -Eo '[0-9]+')
sleep 1
enter '(list *n*)'
check "the ticker waits while the break loop runs" "^\\($counted\\)$"
# No line mixes the three threads' text.
if screen | grep -E 'tick [0-9]|Break>|\(\+ 40' | grep -Evq '^tick [0-9]+$|^Break>( \(list .*)?$'; then
  fail "lines of the threads are mixed"
else
  pass
fi

keys C-PPage
check_row "the break loop is left: the status as it was" 39 "1 value"
check "the first thread's line is back" '^> \(\+ 40$'
type_text ' 2)'
keys Enter
check "and is entered" '^42$'
if wait_until ticks_after "$counted"; then pass; else fail "the ticker goes on"; fi
enter '(length (bt:all-threads))'
check "the failing thread has ended" '^2$'
check_no_stray_escapes "after a thread's break loop"

enter '(exit)'
check "exit code" '^rc=0$'
check_left_cleanly "leaving"
finish
