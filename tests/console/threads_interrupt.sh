# Interrupts of the first thread while it waits at its prompt with a line
# half typed, asked by another thread while nobody types: they run at
# once, their output above the prompt, which comes back below with the
# line as it was typed; one that breaks reads its own lines and gives the
# line back when continued.  EXIT in a started thread ends the process
# without a key.  A break loop of the first thread names no thread.
source "$(dirname "$0")/common.bash"

start 80 30
zorva

# One thread: the break banner has no thread line.
enter '(car 5)'
check "a break loop of the first thread" '^Break>'
check_row_matches "its banner" 29 '^Break level 1'
if screen_lacks 'In thread'; then pass; else fail "no thread named in a single-thread session"; fi
keys C-PPage
check_row "the break loop is left" 29 "Top level"

enter '(defvar *main* (bt:current-thread))'
enter '(defun later (seconds thread function) (bt:make-thread (lambda () (sleep seconds) (bt:interrupt-thread thread function)) :name "poker") nil)'

# The first thread at its prompt with a line half typed: an interrupt that
# prints, and nobody presses a key.
enter '(later 1.5 *main* (lambda () (format t "~&hello from ~A~%" (bt:thread-name (bt:current-thread)))))'
type_text '(+ 40'
check "the interrupt runs without a key" '^hello from main thread$'
check_follows "the prompt and the line so far below its output" 'hello from main thread' '> (+ 40'
check_cursor_after "the cursor at the end of the line" '> (+ 40'
type_text ' 2)'
keys Enter
check "the line typed before and after is entered whole" '^42$'

# An interrupt that reads a line: what was typed at the prompt is not its
# input; its own line is edited where the prompt was, and the half-typed
# line comes back below it.
enter '(defvar *got* nil)'
enter '(later 1.5 *main* (lambda () (setq *got* (read-line))))'
type_text '(list 3'
check_gone "the half-typed line makes way for the interrupt's read" '^> \(list 3'
type_text 'typed for the interrupt'
keys Enter
check "the line comes back after it" '^> \(list 3$'
check_cursor_after "the cursor at its end" '> (list 3'
type_text ' 4)'
keys Enter
check "and is entered whole" '^\(3 4\)$'
enter '*got*'
check "the interrupt read its own line" '^"typed for the interrupt"$'

# An interrupt that breaks: its break loop reads lines of its own, and
# when it is continued the half-typed line comes back as it was.
enter '(later 1.5 *main* (lambda () (break "poked")))'
type_text '(list 1'
check "the break in the interrupt" '^Break: poked$'
check "its prompt" '^Break> ?$'
check_gone "the half-typed line makes way" '^> \(list 1'
if screen_lacks 'In thread'; then pass; else fail "the first thread's break loop names no thread"; fi
keys F5
check "after the interrupt the line is back" '^> \(list 1$'
check_row "with the status as it was" 29 "1 value"
type_text ' 2)'
keys Enter
check "and is entered" '^\(1 2\)$'

# EXIT in a started thread while the first waits for keys: the process
# ends without a key.
enter '(progn (bt:make-thread (lambda () (sleep 0.5) (exit 3))) nil)'
check "the exit code of the started thread" '^rc=3$'
check_left_cleanly "leaving from a started thread"
finish
