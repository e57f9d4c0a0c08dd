# The debugger on piped sessions, as a user of a script or an editor sees
# it: no function keys, so commands are typed as :words.  An error three
# calls deep; the frames listed; moving outward past a frame that bound a
# special variable shows its outer value and moving back the inner one;
# forms evaluated in a frame see its lexical variables; RETURN, evaluating
# a frame again, restarting, throws out of the debugger with every binding
# put back, an error inside the debugger, and the debugger with no frame.
# The same sessions run again with a collection at every few allocations.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"

# session INPUT: a piped session; OUT, RC.
session() {
  OUT=$(cd "$WORK/cwd" && printf '%s' "$1" | timeout 120 "$ZORVA" -ROL "$IMAGE" 2>"$WORK/stderr")
  RC=$?
  ERR=$(cat "$WORK/stderr")
}

program=$'(defvar *depth* (quote outer))
(defun inner (x) (let ((doubled (* 2 x))) (car doubled)))
(defun middle (y) (let ((*depth* (quote inner))) (inner (+ y 1))))
(defun outer (z) (list (middle z) (quote done)))
(outer 4)
'

# The frames and the bindings of their time.
browse=$program$':d
:b
doubled
*depth*
:f 3
*depth*
y
:n
*depth*
:u
:u
*depth*
:n
:n
*depth*
:q
:l
*depth*
'

frame0=$'\n  (CAR DOUBLED)\n  DOUBLED = 10\n  X = 5\nDebug> '
let_frame=$'\n  (LET ((*DEPTH* (QUOTE INNER))) (INNER (+ Y 1)))\n  Y = 4\nDebug> '
middle_frame=$'\n  (MIDDLE Z)\n  Y = 4\nDebug> '
inner_call=$'\n  (INNER (+ Y 1))\n  X = 5\nDebug> '

check_browse() {
  expect_lines "$1: the frames and their bindings" 0 \
    $'Error: The argument 10 is of the wrong type or out of range\nIn function CAR\nRestarts:\n' \
    $' ,1 ABORT: return to top level\nBreak level 1' \
    "$frame0" \
    $'\n  0> (CAR DOUBLED)\n  1  (LET ((DOUBLED (* 2 X))) (CAR DOUBLED))\n  2  (INNER (+ Y 1))\n  3  (LET ((*DEPTH* (QUOTE INNER))) (INNER (+ Y 1)))\n  4  (MIDDLE Z)\n  5  (LIST (MIDDLE Z) (QUOTE DONE))\n  6  (OUTER 4)\n' \
    $'\n10\n' $'\nINNER\n' \
    "$let_frame" $'\nOUTER\n' $'\n4\n' \
    "$inner_call" $'\nINNER\n' \
    "$middle_frame" $'\nOUTER\n' \
    "$inner_call" $'\nINNER\n' \
    $'\nBreak> ' $'\n> \nOUTER\n'
}

session "$browse"
check_browse "piped"

# RETURN at the innermost frame gives the failed CAR a value; a lexical
# variable set in a frame is seen when the frame's form runs again.
session "$program"$':d
(return (quote back))
(outer 4)
:d
(setq doubled (quote (7 8)))
:x
:q
(+ 1 2)
'
expect_lines "RETURN, and a frame's form evaluated again" 1 \
  "$frame0" $'\n(BACK DONE)\n' \
  "$frame0" $'\n(7 8)\n  (CAR DOUBLED)\n  DOUBLED = (7 8)\n' $'\n7\n' $'\nBreak> \n3\n'

# A throw to top level from a form typed in the debugger, and one from a
# break loop inside it, put every binding back on the way.
session "$program"$':d
:f 3
*depth*
(%abort-to-top-level)
*depth*
(outer 4)
:d
:f 4
(no-such-function)
:l
*depth*
(%abort-to-top-level)
*depth*
'
expect_lines "throws out of the debugger" 0 \
  "$let_frame" $'\nOUTER\n' $'\n> \nOUTER\n' \
  "$middle_frame" $'Error: The function NO-SUCH-FUNCTION is undefined' $'Break level 2' \
  "$middle_frame" $'\nOUTER\n' $'\n> \nOUTER\n'

# Restart: the computation of the selected frame runs again from its
# block.
session $'(defvar *tries* 1)
(defun flaky () (block flaky (setq *tries* (- *tries* 1)) (car (if (< *tries* 0) (quote (ok)) 5))))
(list (flaky))
:d
:f 1
:r
*tries*
'
expect_lines "restart" 0 $'Error: The argument 5' $'\n  (BLOCK FLAKY' $'\n(OK)\n> \n-1\n'

# Nowhere to restart, nothing to evaluate again, no frame at all.
session $'no-such-variable
:d
:b
:x
:u
:r
(+ 1 2)
?
:q
(+ 3 4)
'
expect_lines "the debugger with no frame" 1 \
  $'Error: The variable NO-SUCH-VARIABLE is unbound' $'\nTop level\nRestarts:\n' \
  $' ,2 ABORT: return to top level\nDebug> ' \
  $'\nThis frame has no form that could be evaluated again' \
  $'\nTop level' $'\nThis error cannot be continued' $'\n3\n' \
  $':b :backtrace' $':q :quit' $'\nBreak> \n7\n'

# The display commands: the variable-display modes (round to the first
# again), the frames inward and outward of the selected one, moving to the
# frames of a break, and the variables of every frame.
session "$program"$':d
:f 2
:vm
:vm
:vm
:vm
:si
:so
:mu
:mn
:v
:q
'
expect_lines "display commands" 1 \
  $'\nVariables shown: lexical ones, special and function bindings\n' \
  $'\nVariables shown: lexical ones, also of outer frames\n' \
  $'\nVariables shown: all bindings, also of outer frames\n  (INNER (+ Y 1))\n  X = 5\n  special *DEPTH* = INNER\n' \
  $'\nVariables shown: lexical ones of the frame\n  (INNER (+ Y 1))\n  X = 5\nDebug> ' \
  $'\n  (INNER (+ Y 1))\n  X = 5\n  (LET ((DOUBLED (* 2 X))) (CAR DOUBLED))\n  DOUBLED = 10\n  X = 5\n  (CAR DOUBLED)\n  DOUBLED = 10\n  X = 5\nInnermost frame\n  (INNER (+ Y 1))' \
  $'\nTop level\n  (OUTER 4)\n  Z = 4\n  (LIST (MIDDLE Z) (QUOTE DONE))\n' $'\n  (LET ((*DEPTH* (QUOTE INNER))) (INNER (+ Y 1)))\n  Y = 4\n  (INNER (+ Y 1))\n  X = 5\nDebug> ' \
  $'\nTop level\n  (OUTER 4)\n  Z = 4\nDebug> ' "$frame0" \
  $'\nThe variables of all frames:\n  (CAR DOUBLED)\n' $'\n  (OUTER 4)\n  Z = 4' "$frame0" $'\nBreak> '

# Editing: :e edits the selected frame's form, :ec the caller's, with the
# editor the user named.  A list is changed in place, so the frame runs the
# edited form when evaluated again and the function is edited for good;
# the temporary file goes.  An edit that cannot be read back is an error
# inside the debugger, which comes back to it with every binding in place.
mkdir -p "$WORK/bin" "$WORK/tmp"
cat >"$WORK/bin/edit-forms" <<'SH'
#!/bin/sh
sed -i 's/(CAR X)/(CAR (LIST X))/; s/(INNER Z)/(INNER (LIST Z 5))/' "$1"
SH
printf '#!/bin/sh\nprintf "(unfinished" >"$1"\n' >"$WORK/bin/edit-breaks"
chmod +x "$WORK/bin/edit-forms" "$WORK/bin/edit-breaks"

edit_program=$'(defvar *depth* (quote outer))
(defun inner (x) (let ((*depth* (quote inner))) (car x)))
(defun outer (z) (list (inner z) (quote done)))
(outer 4)
:d
'
# edit_session EDITOR INPUT
edit_session() {
  OUT=$(cd "$WORK/cwd" && printf '%s' "$2" |
    EDITOR="$WORK/bin/$1" VISUAL= TMPDIR="$WORK/tmp" timeout 120 "$ZORVA" -ROL "$IMAGE" 2>"$WORK/stderr")
  RC=$?
  ERR=$(cat "$WORK/stderr")
}

edit_session edit-forms "$edit_program"$':e
:x
:u
:ec
:u
:x
:q
(outer 6)
'
expect_lines "editing a frame's form and its caller's" 1 \
  $'\nDebug> \n  (CAR (LIST X))\n  X = 4\nDebug> \n4\n  (CAR (LIST X))\n' \
  $'\n  (INNER (LIST Z 5))\n  X = 4\nDebug> \n(4 5)\n' \
  $'\nBreak> \n((6 5) DONE)\n'
[ -z "$(ls "$WORK/tmp")" ] && pass || fail "the editor's temporary files are removed"

edit_session edit-breaks "$edit_program"$':e
:l
*depth*
:q
(%abort-to-top-level)
*depth*
'
expect_lines "an edit that does not read back" 0 \
  $'\nDebug> \nError: Unexpected end of file' $'In function %EDIT-OBJECT' $'Break level 2' \
  $'\n  (CAR X)\n  X = 4\nDebug> \nINNER\n' $'\n> \nOUTER\n'

# The condition system's restarts: listed on entering the debugger and by
# :rs; :r N and ,N take them from whichever frame is selected, leaving the
# debugger and the break with every binding undone.
session $'(defvar *depth* (quote outer))
(defun inner (x) (car x))
(defun middle (y) (let ((*depth* (quote inner))) (inner y)))
(list (middle 4) *depth*)
:d
:f 2
*depth*
:rs
:r 0
(quote (z))
*depth*
(list (middle 4) *depth*)
:d
:u
,0 (quote (w))
(middle 5)
:d
:r 7
,9
:f 1
*depth*
:r 1
*depth*
'
expect_lines "the restarts in the debugger" 0 \
  $'\nBreak> \nRestarts:\n ,0 USE-VALUE: return a value in place of the failed operation\n ,1 ABORT: return to top level\n  (CAR X)\n  X = 4\nDebug> ' \
  $'\nOUTER\n' $'\nDebug> \nRestarts:\n ,0 USE-VALUE: return a value in place of the failed operation\n ,1 ABORT: return to top level\n' \
  $'\nValue (a form to evaluate): \n((Z) OUTER)\n> \nOUTER\n' \
  $'\n  (INNER Y)\n  X = 4\nDebug> \n((W) OUTER)\n' \
  $'\nNo restart 7 is in force' $'\nNo restart 9 is in force' $'\nINNER\n' $'\nDebug> \n> \nOUTER\n'

# Under the collector's stress mode the frames, the bindings and the
# throws come out the same.
OUT=$(cd "$WORK/cwd" && printf '%s' "$browse" | ZORVA_GC_STRESS=23 timeout 300 "$ZORVA" -ROL "$IMAGE" 2>"$WORK/stderr")
RC=$?
check_browse "collections everywhere"

finish
