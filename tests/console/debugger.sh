# The debugger and the stepper on a terminal, driven by their keys: F3
# from a break loop, PgUp and PgDn through the frames with the bindings of
# their time, a form evaluated in a frame, F5 restarting a frame, F3 to
# leave; F8 and F10 in the stepper; F4 and Ctrl-F4 editing a frame's
# form and its caller's, F4 in the stepper, with the user's editor.
source "$(dirname "$0")/common.bash"

cat >"$WORK/edit-forms" <<'SH'
#!/bin/sh
sed -i 's/(CAR X)/(LIST X (QUOTE EDITED))/; s/(INNER (+ Y 1))/(INNER (* Y 100))/; s/(INNER 7)/(INNER 8)/' "$1"
SH
chmod +x "$WORK/edit-forms"

start 80 25
keys "export EDITOR=$WORK/edit-forms VISUAL=" Enter
zorva

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

# The editor runs on the terminal and gives it back; a list is edited in
# place, so evaluating the frame again runs the edited form.
keys C-l
keys F3
check "the debugger again" '^  \(CAR X\)$'
keys F4
check "F4 edits the frame's form" '^  \(LIST X \(QUOTE EDITED\)\)$'
keys F10
check "F10 evaluates the edited form" '^\(2 EDITED\)$'
keys C-F4
# Keys typed while the editor has the terminal are the terminal's to echo.
settle
keys PPage
check "Ctrl-F4 edited the caller's form" '^  \(INNER \(\* Y 100\)\)$'
keys F10
check "which evaluates with the edit" '^\(100 EDITED\)$'
keys F3
keys C-l
enter "(step (inner 7))"
check "a stop" '^0: \(INNER 7\)$'
keys F4
check "F4 edits the stepped form" '^0: \(INNER 8\)$'
keys F10
check "which is evaluated" '^0 = \(8 EDITED\)$'

keys C-l
enter '(exit)'
check_left_cleanly "leaving"
check_no_stray_escapes "after the debugger"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
