# The stepper on piped sessions, with its single-letter commands: stepping
# through a recursive function (into, over, stop stepping), running to a
# breakpoint operator, the form's multiple values, returning NIL instead
# of evaluating, finishing a form and stopping at the one around it, the
# value display, and an error inside stepped code, whose break loop and
# debugger keep the stepper's own frames out of sight.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"

session() {
  OUT=$(cd "$WORK/cwd" && printf '%s' "$1" | timeout 120 "$ZORVA" -ROL "$IMAGE" 2>"$WORK/stderr")
  RC=$?
  ERR=$(cat "$WORK/stderr")
}

fact=$'(defun fact (n) (if (= n 0) 1 (* n (fact (- n 1)))))\n'

# expect_block LABEL CODE BLOCK: the output holds BLOCK exactly, lines in
# order and nothing between them.
expect_block() {
  if [[ $OUT == *"$3"* ]] && [ "$RC" -eq "$2" ]; then pass; else fail "$1 (wanted exactly:
$3)"; fi
}

stepping="$fact"$'(step (fact 2))\ns\nn\ns\nn\ns\nn\ns\nc\n'
session "$stepping"
stepped='
0: (FACT 2)
Step> 
  1: 2
Step> 
  1 = 2
  1: (IF (= N 0) 1 (* N (FACT (- N 1))))
Step> 
    2: (= N 0)
Step> 
    2 = NIL
    2: (* N (FACT (- N 1)))
Step> 
      3: N
Step> 
      3 = 2
      3: (FACT (- N 1))
Step> 
        4: (- N 1)
Step> 
2
> '
expect_block "into, over, and stop stepping" 0 "$stepped"

# Breakpoints: the stepper runs to the next call of a listed operator,
# and stops at them even after stepping was stopped.
session "$fact"$'(setq %step-hook (quote (fact)))\n(step (list 1 (fact 1)))\nb\nb\nc\n'
expect_block "run to a breakpoint" 0 '
0: (LIST 1 (FACT 1))
Step> 
  1: (FACT 1)
Step> 
        4: (FACT (- N 1))
Step> 
(1 1)
> '

# All the values of the stepped form come back; r answers NIL at once.
session $'(multiple-value-list (step (floor 7 2)))\nn\n(step (list (car 5) 3))\ns\nr\nn\n'
expect_block "multiple values" 0 '
0: (FLOOR 7 2)
Step> 
0 = 3 1
(3 1)
> '
expect_block "return NIL instead" 0 '
  1: (CAR 5)
Step> 
  1: 3
Step> 
  1 = 3
(NIL 3)
> '

# o finishes a form and stops again at the one around it, showing its
# value; v shows every value as it is returned.
session "$fact"$'(step (+ (fact 1) 10))\ns\ns\no\nv\nn\n'
expect_block "out, and the value display" 0 '
0: (+ (FACT 1) 10)
Step> 
  1: (FACT 1)
Step> 
    2: 1
Step> 
    2 = 1
  1 = 1
  1: 10
Step> 
Step> 
  1 = 10
0 = 11
11
> '

# An error in stepped code: the break loop, and the debugger without the
# stepper's frames; RETURN from the break gives the failing call a value
# and stepping goes on.
session $'(step (list (car 5) 2))\ns\ns\ns\n:d\n:b\n:q\n(return 9)\n'
expect_lines "an error while stepping" 0 \
  $'\nError: The argument 5 is of the wrong type or out of range\nIn function CAR\nRestarts:\n' \
  $' ,1 ABORT: return to top level\nBreak level 1' \
  $'\n  0> (CAR 5)\n  1  (LIST (CAR 5) 2)\n  2  (STEP (LIST (CAR 5) 2))\n' \
  $'\nBreak> \n(9 2)\n'

# The debugger from a stop: it starts at the stepper's frame and sees the
# form's lexical variables; RETURN there is the form's value.
session "$fact"$'(step (fact 3))\ns\ns\nd\nn\n(return 42)\nc\n'
expect_lines "the debugger from a stop" 0 \
  $'\n    2: (= N 0)\nStep> \nRestarts:\n ,0 ABORT: return to top level\n* %STEP-HOOK (call)\nDebug> \n3\n' \
  $'\n    2: 1\nStep> \n1\n> '

# e edits the form at a stop with the user's editor: a list in place, so
# the function's source sees it; anything else (the 4) replaces the form
# for this evaluation only.  Either way the stop shows the edited form,
# and stepping goes on with it.
mkdir -p "$WORK/bin" "$WORK/tmp"
printf '#!/bin/sh\nsed -i "s/\\\\b4\\\\b/40/g" "$1"\n' >"$WORK/bin/edit-fours"
chmod +x "$WORK/bin/edit-fours"
OUT=$(cd "$WORK/cwd" && printf '%s' $'(defun four () (+ 4 (* 4 2)))\n(step (four))\ns\ns\ne\nn\ne\nn\n(four)\n' |
  EDITOR="$WORK/bin/edit-fours" VISUAL= TMPDIR="$WORK/tmp" timeout 120 "$ZORVA" -ROL "$IMAGE" 2>"$WORK/stderr")
RC=$?
expect_block "editing a form at a stop" 0 '
    2: 4
Step> 
    2: 40
Step> 
    2 = 40
    2: (* 4 2)
Step> 
    2: (* 40 2)
Step> 
    2 = 80
120
> 
84
> '
[ -z "$(ls "$WORK/tmp")" ] && pass || fail "the editor's temporary files are removed"

# The same under the collector's stress mode.
OUT=$(cd "$WORK/cwd" && printf '%s' "$stepping" | ZORVA_GC_STRESS=23 timeout 300 "$ZORVA" -ROL "$IMAGE" 2>"$WORK/stderr")
RC=$?
expect_block "stepping with collections everywhere" 0 "$stepped"

finish
