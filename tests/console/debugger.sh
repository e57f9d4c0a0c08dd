# The debugger and the stepper on a terminal, driven by their keys: F3
# from a break loop, PgUp and PgDn through the frames with the bindings of
# their time, a form evaluated in a frame, F5 restarting a frame, F3 to
# leave; F8 and F10 in the stepper.
source "$(dirname "$0")/common.bash"

start 80 25
zorva

enter() {
  type_text "$1"
  keys Enter
}

enter "(defvar *level* 'outer)"
enter "(defun inner (x) (car x))"
enter "(defun middle (y) (let ((*level* 'inner)) (inner (+ y 1))))"
enter "(defun runner () (block runner (if (boundp 'again) 5 (progn (setq again t) (middle 3)))))"
check "defined" '^RUNNER$'
enter "(runner)"
check "the break loop" 'Break level 1'

keys F3
check "F3 starts the debugger at the innermost frame" '^  \(CAR X\)$'
check "its variables" '^  X = 4$'
enter '*level*'
check "the inner binding" '^INNER$'
keys PPage
check "PgUp selects the caller" '^  \(INNER \(\+ Y 1\)\)$'
keys PPage
check "and the frame that bound *LEVEL*" '^  \(LET \(\(\*LEVEL\* \(QUOTE INNER\)\)\) \(INNER \(\+ Y 1\)\)\)$'
keys C-l
enter '(list *level* y)'
check "a form sees the outer value and the frame's variable" '^\(OUTER 3\)$'
keys NPage
enter '(list *level* x)'
check "PgDn: the inner value again" '^\(INNER 4\)$'

# F5 at the frame of RUNNER's block starts it over; this time it works.
enter ':o'
check "outermost" '^Top level$'
keys NPage
check "the block" '^  \(BLOCK RUNNER'
keys F5
check "F5 restarts the block" '^5$'
enter '*level*'
check "every binding is back" '^OUTER$'

# The stepper: F8 steps into a form, F10 evaluates one and shows its
# value.
keys C-l
enter "(step (middle 1))"
check "the first stop" '^0: \(MIDDLE 1\)$'
keys F8
check "F8 steps in" '^  1: 1$'
keys F10
check "F10 shows the value" '^  1 = 1$'
check "and stops at the next form" '^  1: \(LET'
keys F5
check "F5 stops stepping" 'Error: The argument 2'
keys F3
check "the debugger hides the stepper's frames" '^  \(CAR X\)$'
keys F3
check "F3 leaves it" 'Break>'

keys C-l
enter '(exit)'
check_left_cleanly "leaving"
check_no_stray_escapes "after the debugger"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
