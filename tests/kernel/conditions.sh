# Conditions and restarts at the terminal, on piped sessions: a break loop
# lists its restarts under the error's message and takes one with ,N; the
# keys and the exit codes of the break loop stay as they were.
source "$(dirname "$0")/common.bash"

# session INPUT [ARGS...]: the kernel in $WORK/cwd with INPUT piped in;
# sets OUT, RC and ERR.
session() {
  local input=$1
  shift
  piped_in_cwd "$input" "$ZORVA" -ROL "$IMAGE" "$@"
}

session $'(+ 1 2)\n'
if [[ $OUT != *$'\n3\n'* ]]; then
  echo "SKIP: the kernel does not evaluate (+ 1 2) yet"
  exit 77
fi

# An unhandled error: the message and the function line as always, then
# the restarts, numbered, then the banner naming the command.  The end of
# input inside the break loop still exits with code 1.
session $'(defun first-of (x) (car x))\n(first-of 5)\n'
expect_lines "message, function, restarts, banner" 1 \
  $'\nError: The argument 5 is of the wrong type or out of range\nIn function CAR\nRestarts:\n' \
  $' ,0 USE-VALUE: return a value in place of the failed operation\n' \
  $' ,1 ABORT: return to top level\n' \
  $'Break level 1, ,N restart, F3 debugger\nBreak> '

# ABORT goes back to top level: the top-level prompt, and the end of the
# input there ends the session with code 0.
session $'(car 5)\n,1\n(+ 1 2)\n'
expect_lines "ABORT returns to top level" 0 "Break level 1" $'Break> \n> \n3\n> '

# By name, and from a second level back to the first, whose message is
# shown again.
session $'(car 5)\n(cdr 6)\n,abort\n,abort\n(+ 2 2)\n'
expect_lines "ABORT one level at a time" 0 \
  "Break level 1" "Error: The argument 6" " ,1 ABORT: return to break level 1" "Break level 2" \
  $'\nError: The argument 5' "Break level 1" $'> \n4\n> '

# CONTINUE on a continuable error goes on with the computation.
session $'(list (funcall (function car) (quote (a b)) :extra) (quote after))\n,0\n'
expect_lines "CONTINUE goes on" 0 \
  $'To continue (F5): ignore the argument :EXTRA\nRestarts:\n ,0 CONTINUE: ignore the argument :EXTRA\n' \
  "Break level 1, F5 continues" $'\n(A AFTER)\n> '

session $'(progn (cerror "Try ~A again" "Out of ~A" (quote paper)) (print (quote printing)) 7)\n,continue\n'
expect_lines "CERROR continued" 0 \
  $'Error: Out of PAPER\n' $'To continue (F5): Try PAPER again\n' \
  $' ,0 CONTINUE: Try PAPER again\n' $'\nPRINTING \n7\n> '

# USE-VALUE with its value on the command line, or asked for.
session $'(+ 1 (car 5))\n,0 41\n(+ 1 (car 6))\n,0\n(* 2 50)\n'
expect_lines "USE-VALUE" 0 $'\n42\n> ' "Value (a form to evaluate): " $'\n101\n> '

# An unbound variable can be given a value that stays.
session $'(list zz)\n,store-value 5\nzz\n'
expect_lines "STORE-VALUE" 0 " ,1 STORE-VALUE: give ZZ a value and use it" $'\n(5)\n> \n5\n> '

# The program's own restarts are listed with those of the break loop, and
# a bad number is reported; , alone shows the list again.
session $'(restart-case (error "Stuck") (retry () :report "Try once more" 1) (give-up () 2))\n,7\n,\n,1\n'
expect_lines "a program's restarts" 0 \
  $'\nError: Stuck\n' $' ,0 RETRY: Try once more\n ,1 GIVE-UP\n ,2 ABORT: return to top level\n' \
  "No restart 7 is in force" $'Restarts:\n ,0 RETRY' $'\n2\n> '

# Handlers outside a break loop do not see the errors made inside it.
session $'(handler-bind ((error (lambda (c) (print :outer-handler)))) (car 5))\n(car 6)\n,abort\n,abort\n'
[ "$RC" -eq 0 ] && [ "$(grep -c OUTER-HANDLER <<<"$OUT")" -eq 1 ] && pass ||
  fail "a break loop hides the handlers outside it"

# *DEBUGGER-HOOK* sees an unhandled error before anything is printed.
session '(catch (quote out) (let ((*debugger-hook* (lambda (c h) (throw (quote out) (list :hook (princ-to-string c)))))) (car 5)))
'
expect_lines "debugger hook" 0 $'> \n(:HOOK "The argument 5 is of the wrong type or out of range")\n> '
[[ $OUT != *Error:* ]] && pass || fail "nothing printed before the debugger hook"

# *BREAK-ON-SIGNALS* stops before a signal; continuing signals it.
session $'(let ((*break-on-signals* (quote warning))) (warn "Look out"))\n,0\n'
expect_lines "break on signals" 0 $'Break: SIMPLE-WARNING signalled: Look out\n' \
  " ,0 CONTINUE: return from the break" "Break level 1, F5 continues" $'Warning: Look out\nNIL\n> '

# Exhausting the vector heap is a STORAGE-CONDITION a handler takes, and
# the session goes on.  Exhausting the cons cells leaves nothing for
# handlers to run with: the kernel reports it in a break loop as before,
# one break level, not an error upon error until the process dies.
session $'(handler-case (let ((l nil)) (loop (push (make-array 100000) l))) (storage-condition (c) (list :out (princ-to-string c))))\n(+ 1 2)\n'
expect_lines "heap exhaustion handled" 0 $'(:OUT "Vector heap exhausted")\n> \n3\n> '
session $'(let ((l nil)) (loop (push (make-list 10000) l)))\n'
expect_lines "cons exhaustion reported" 1 $'Error: Cons cells exhausted\nIn function CONS\nBreak level 1'
[[ $OUT != *overflow* ]] && [ "$(grep -c 'Cons cells exhausted' <<<"$OUT")" -eq 1 ] && pass ||
  fail "cons exhaustion reported once"

# A program run from the command line: an unhandled error prints its
# message and ends the run with code 1, with no restarts to take.
mkdir -p "$WORK/cwd"
printf '(format t "before~%%")\n(restart-case (car 5) (skip () nil))\n(format t "after~%%")\n' \
  >"$WORK/cwd/fails.lsp"
session "" fails.lsp
[ "$RC" -eq 1 ] && [[ $OUT == before$'\n'*'Error: The argument 5'*'In function CAR' ]] &&
  [[ $OUT != *Restarts* ]] && [[ $OUT != *after* ]] && pass ||
  fail "a script's unhandled error exits 1"

# With the redefinition notices switched on in the image header, they are
# STYLE-WARNINGs, which a program muffles as a class.
cp "$IMAGE" "$WORK/notices.ROL"
printf '\x80' | dd of="$WORK/notices.ROL" bs=1 seek=38 conv=notrunc status=none
OUT=$(cd "$WORK/cwd" && printf '%s\n' '(defun twice (x) (* 2 x))' '(defun twice (x) (+ x x))' \
  '(handler-bind ((style-warning (function muffle-warning))) (defun twice (x) (ash x 1)))' \
  '(twice 4)' | timeout 60 "$ZORVA" -ROL "$WORK/notices.ROL" 2>&1)
RC=$?
[ "$RC" -eq 0 ] && [ "$(grep -c 'Function TWICE is redefined' <<<"$OUT")" -eq 1 ] &&
  [[ $OUT == *$'\n8\n'* ]] && pass || fail "redefinition notices muffled as style warnings"

finish
