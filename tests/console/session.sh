# A session at a terminal as a person meets it: the banner and the memory
# report in the terminal window, the status line, typing and evaluating,
# colours, Control-C into a break loop and back, Esc, aborting to top
# level, and leaving with the terminal as it was.
source "$(dirname "$0")/common.bash"

start 80 25
type_text 'echo before'
keys Enter
wait_for '^before$'
zorva

# The private screen: the banner at the top, the shell's lines gone.
check "banner" '^Zorva / Version 3.7 / Common LISP & CLOS compliant$'
check "memory report" '^Stack size [0-9]+; free: [0-9]+ cons cells'
if screen | grep -q '^before$'; then fail "the shell's screen is hidden"; else pass; fi
check_row "status line at start" 24 "Top level"

type_text '(+ 1 2)'
keys Enter
check "a value" '^3$'
check_row "status after a value" 24 "1 value"
type_text '(values 1 "two")'
keys Enter
check "two values" '^"two"$'
check_row "status after two values" 24 "2 values"
check_no_stray_escapes "after evaluating"

# Colours: the terminal window black on grey, the status line grey on blue.
if colours | head -1 | grep -q $'\e\\[30m\e\\[47m'; then pass; else fail "terminal colours"; fi
if colours | sed -n 25p | grep -q $'\e\\[37m\e\\[44m2 values'; then pass; else fail "status colours"; fi

# Control-C interrupts an endless loop that evaluates nothing, with a
# message; F5 goes on with it, and Control-C again stops it.
type_text '(loop)'
keys Enter
sleep 0.5
keys C-c
check "interrupted" '^Break: interrupted by Control-C$'
check_row "break banner" 24 "Break level 1, F5 continues, ,N restart, F3 debugger"
check "break prompt" '^Break>$'
keys F5
sleep 0.5
keys C-c
twice() { [ "$(screen | grep -c 'interrupted by Control-C')" -eq 2 ]; }
if wait_until twice; then pass; else fail "interrupted again"; fi
type_text '(* 6 7)'
keys Enter
check "the break loop evaluates" '^42$'

# Control-C stops the printing of a circular list at the top level (the
# built-ins that walk a whole list find the ring themselves: LENGTH is a
# type error); control-meta-Home leaves each break loop.
type_text '(progn (setq c (list 1 2)) (setf (cdr (cdr c)) c) nil)'
keys Enter
check "a circular list" '^NIL$'
keys C-M-Home
for form in 'c'; do
  type_text "$form"
  keys Enter
  sleep 0.5
  keys C-c
  check_row "Control-C stops $form" 24 "Break level 1, F5 continues, ,N restart, F3 debugger"
  keys C-M-Home
  check_row "top level after $form" 24 "Top level"
done
type_text '(car c)'
keys Enter
check "the list is intact" '^1$'

# At the prompt Control-C clears the line; Esc too.
type_text 'half a line'
wait_for 'half a line'
keys C-c
check_gone "Control-C clears the line" 'half a line'
type_text 'more'
wait_for 'more'
keys Escape
check_gone "Esc clears the line" 'more'

# Control-meta-Home: back to top level.
keys C-M-Home
check_row "aborted to top level" 24 "Top level"
type_text '(+ 2 2)'
keys Enter
check "top level again" '^4$'

# An error: its message in the error colour, the break loop.
type_text '(car 5)'
keys Enter
check "error message" 'Error: '
keys C-M-Home
check_row "and back" 24 "Top level"

type_text '(exit 3)'
keys Enter
check "exit code" '^rc=3$'
check_left_cleanly "after (exit 3)"
check "the shell's screen is back" '^before$'
check_no_stray_escapes "after leaving"

finish
