# A started thread's break loop waiting for keys: its banner names the
# thread; another thread's interrupt runs there at once, its output above
# the break prompt and the line half typed; DESTROY-THREAD ends the loop
# and gives the console back to the first thread, its line as it was.
source "$(dirname "$0")/common.bash"

start 80 30
zorva

# A started thread's break loop, waiting for keys with a line half typed:
# another thread's interrupt prints above it, then DESTROY-THREAD ends it.
enter '(defvar *ready* nil)'
enter '(defvar *failing* nil)'
enter '(defun poker () (loop (when *ready* (return)) (sleep 0.05)) (sleep 0.5) (bt:interrupt-thread *failing* (lambda () (format t "~&poked ~A~%" (bt:thread-name (bt:current-thread))))) (sleep 1.5) (bt:destroy-thread *failing*))'
enter '(progn (setq *failing* (bt:make-thread (lambda () (sleep 1.5) (car 7)) :name "failing")) (bt:make-thread (function poker) :name "poker") nil)'
type_text '(+ 40'
check "the started thread breaks" '^Break> ?$'
check_row_matches "its banner" 29 '^Break level 1'
check_follows "the thread named under it, before the prompt" 'In thread "failing"' 'Break>'
enter '(setq *ready* t)'
type_text '(list 1'
check "its interrupt runs without a key" '^poked failing$'
check_follows "the break prompt and its line below the output" 'poked failing' 'Break> (list 1'
check "DESTROY-THREAD ends the break loop: the first thread's line is back" '^> \(\+ 40$'
check_row "and the status as it was" 29 "1 value"
check_cursor_after "the cursor at the end of that line" '> (+ 40'
type_text ' 2)'
keys Enter
check "the first thread has the keyboard" '^42$'
enter '(list (bt:thread-alive-p *failing*) (length (bt:all-threads)))'
check "the destroyed thread has ended" '^\(NIL [12]\)$'
check_no_stray_escapes "after the interrupts"

enter '(exit)'
check_left_cleanly "leaving"
finish
