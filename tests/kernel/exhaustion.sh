# Memory exhaustion does not cascade: the break loop of "Cons cells
# exhausted" gets the emergency reserve, reads and prints, and an error
# drops what else was typed on its line.
source "$(dirname "$0")/common.bash"

# One line: the error, then a form that must not run.  The break loop
# then answers (+ 1 2) with 3, on one break level.
piped_in_cwd $'(defvar *l* nil)\n(loop (push 1 *l*)) (+ 10 20)\n(+ 1 2)\n(length (list 1 2 3))\n' \
  "$ZORVA" -ROL "$IMAGE"
expect_lines "cons exhaustion: the break loop reads and prints" 1 \
  "Cons cells exhausted" $'\n3\n' $'\n3\n'
if grep -q "Break level 2\|Illegal character" <<<"$OUT" || grep -qx "30" <<<"$OUT"; then
  fail "cons exhaustion: one break level, nothing else of the line run"
else
  pass
fi

# Room again after the list is dropped: back at top level, (+ 1 2) is 3.
piped_in_cwd $'(defvar *l* nil)\n(loop (push 1 *l*))\n(setq *l* nil)\n(abort)\n(length (make-list 100000))\n' \
  "$ZORVA" -ROL "$IMAGE"
expect_lines "cons exhaustion: the session goes on at top level" 0 \
  "Cons cells exhausted" $'\n100000\n'

# An ordinary error in the middle of a line: the rest is not run.
piped_in_cwd $'(car 1) (print (quote not-run))\n(+ 1 2)\n' "$ZORVA" -ROL "$IMAGE"
expect_lines "the rest of the line is dropped" 1 "Error" $'\n3\n'
if grep -q "NOT-RUN" <<<"$OUT"; then fail "the rest of the line is dropped (NOT-RUN printed)"; else pass; fi

finish
