# Inputs that once ended the session or left it unusable, each in a piped
# session that goes on to read and evaluate (+ 1 2) afterwards: exit code 0
# when the session is back at top level at the end of its input, 1 when it
# ends inside a break loop.
source "$(dirname "$0")/common.bash"

session() {
  local input=$1
  shift
  piped_in_cwd "$input" "$ZORVA" -ROL "$IMAGE" "$@"
}

# expect_three LABEL CODE: the last session printed 3 for its final (+ 1 2)
# and ended with CODE, with no fatal error on the way.
expect_three() {
  if [[ $OUT == *$'\n3\n'* && $OUT != *"root-pointer stack"* && $OUT != *"Fatal"* ]]; then
    expect_lines "$1" "$2" $'\n3\n'
  else
    fail "$1 (wanted 3 from the final (+ 1 2))"
  fi
}

session $'(+ 1 2)\n'
if [[ $OUT != *$'\n3\n'* ]]; then
  echo "SKIP: the kernel does not evaluate (+ 1 2) yet"
  exit 77
fi

# --- The reader's state in a break loop --------------------------------

# A radix set for the token after #B is gone when the break loop reads.
session $'#b.\n10\n(+ 1 2)\n'
expect_lines "radix after #b." 1 "Break level 1" $'Break> \n10\n' $'\n3\n'

# A break inside a form skipped by #+ reads and evaluates as usual: symbols
# are interned, #. evaluates, and READ is not suppressed.
session $'(read-from-string "#+nofeat (a b")\n(symbol-package \'abc)\n#.(* 2 3)\n(read-from-string "#.(* 3 3)")\n(+ 1 2)\n'
expect_lines "after an unfinished skipped form" 1 "Break level 1" \
  $'\n#<PACKAGE "COMMON-LISP-USER">\n' $'\n6\n' $'\n9\n' $'\n3\n'

# Backquote depth: a comma typed in the break loop is no comma of the
# interrupted backquote.
session $'(read-from-string "`(a ,b")\n(car \'(quote x))\n(+ 1 2)\n'
expect_lines "after an unfinished backquote" 1 "Break level 1" $'\nQUOTE\n' $'\n3\n'

# A break inside a read, continued: the read goes on with its own state
# (backquote depth, an open brace), even after an error in a read of the
# break loop itself was left with ABORT.
setup=$'(set-macro-character #\\! (lambda (s c) (declare (ignore s c)) (break "in a read") \'bang))\n'
session "$setup"$'(read-from-string "`(a ! ,(+ 1 2))")\n#b.\n,abort\n`(x ,(+ 1 1))\n,continue\n(+ 1 2)\n'
expect_lines "a continued read keeps its backquote" 0 "in a read" "Break level 2" \
  "Break level 1" $'\n(X 2)\n' $'\n(LIST (QUOTE A) (QUOTE BANG) (+ 1 2))\n15\n' $'\n3\n'
session "$setup"$'(read-from-string "(a {b ! c} d)")\n)\n(+ 1 2)\n,abort\n,continue\n(+ 1 2)\n'
expect_lines "a continued read keeps its braces" 0 "in a read" "Break level 2" \
  "Break level 1" $'\n(A (B BANG C) D)\n' $'\n3\n'

# --- Deep data in the reader and the printer -----------------------------

# Typed at the listener, and read from strings, nested as deep as the Lisp
# stack allows; deeper, an ordinary STORAGE-CONDITION (error 38) that a
# handler takes, or a break loop, and the session goes on.
deep=$(printf '(%.0s' $(seq 8193))$(printf ')%.0s' $(seq 8193))
session "(length '$deep)"$'\n(+ 1 2)\n'
expect_lines "8193 parentheses typed" 0 $'\n1\n' $'\n3\n'
parens() { echo "(concatenate 'string (make-string $1 :initial-element #\\() (make-string $1 :initial-element #\\)))"; }
session "(length (read-from-string $(parens 20000)))"$'\n(+ 1 2)\n'
expect_lines "20000 parentheses read" 0 $'\n1\n' $'\n3\n'
session "(read-from-string $(parens 100000))"$'\n(+ 1 2)\n'
expect_lines "100000 parentheses read" 1 "Error: Lisp stack overflow" "Break level 1" $'\n3\n'
session $'(handler-case (read-from-string (make-string 100000 :initial-element #\\\')) (storage-condition () :deep))\n(+ 1 2)\n'
expect_lines "100000 quote marks" 0 $'\n:DEEP\n' $'\n3\n'

# A list nested 40000 deep prints; 100000 deep, each way of printing it
# signals the error and the session goes on.
nest=$'(defvar *x* nil)\n(defun nest (n) (setq *x* nil) (dotimes (i n) (setq *x* (list *x*))) n)\n'
session "$nest"$'(nest 40000)\n(length (prin1-to-string *x*))\n(+ 1 2)\n'
expect_lines "a list 40000 deep prints" 0 $'\n80003\n' $'\n3\n'
session "$nest"$'(nest 100000)\n(handler-case (prin1-to-string *x*) (storage-condition () 1))
(handler-case (format nil "~S" *x*) (storage-condition () 2))
(handler-case (write-to-string *x* :escape nil) (storage-condition () 3))
(handler-case (princ *x*) (storage-condition () 4))
(list (handler-case (car *x*) (storage-condition () 5)))
*x*
(+ 1 2)
'
expect_lines "a list 100000 deep" 1 $'\n1\n' $'\n2\n' $'\n3\n' $'\n4\n' \
  "Error: Lisp stack overflow" "Break level 1" "Error: Lisp stack overflow" "Break level 2" $'\n3\n'

# --- Runaway recursion ---------------------------------------------------

# The warning's break loop sits where the stack ran short: it prints its
# restarts and evaluates there, twice over, and each overflow is reported
# once.
runaway=$'(defun runaway (n) (+ 1 (runaway n)))\n'
session "$runaway"$'(runaway 1)\n(+ 1 2)\n(runaway 1)\n(+ 1 2)\n(list \'deep (length (list 1 2)))\n'
expect_lines "runaway recursion: a break loop at the overflow" 1 "Warning: Lisp stack overflow" \
  " ,1 ABORT: return to top level" "Break level 1" "Break level 2" $'\n3\n' $'\n(DEEP 2)\n'
[ "$(grep -c 'Lisp stack overflow' <<<"$OUT")" -eq 2 ] && pass ||
  fail "runaway recursion: each overflow reported once (got $(grep -c 'Lisp stack overflow' <<<"$OUT"))"
# In a script the overflow ends the run, once, with exit code 1.
printf '%s(runaway 1)\n(print (quote not-reached))\n' "$runaway" >"$WORK/runaway.lsp"
run_in "$WORK" -ROL "$IMAGE" runaway.lsp
OUT+=$ERR
expect_lines "runaway recursion in a script" 1 "Lisp stack overflow"
[[ "$(grep -c 'Lisp stack overflow' <<<"$OUT")" -eq 1 && $OUT != *NOT-REACHED* ]] && pass ||
  fail "runaway recursion in a script: reported once and the run ends"

# --- Circular and deep data in error messages ----------------------------

ring=$'(defvar *c* (list 1 2 3))\n(progn (setf (cdddr *c*) *c*) nil)\n'
session "$ring"$'(ignore-errors (rem *c* 1))\n(rem *c* 1)\n(error "bad ~S" *c*)\n(+ 1 2)\n'
expect_lines "a circular list in error messages" 1 $'\nNIL\n' \
  "Error: The argument (1 2 3 1 2 3 1 2 3 1 2 3 1 2 3 1 2 3 1 2 ...) is of the wrong type" \
  "Error: bad (1 2 3 1 2 3 1 2 3 1 2 3 1 2 3 1 2 3 1 2 ...)" "Break level 2" $'\n3\n'
session "$nest"$'(nest 100000)\n(ignore-errors (car *x*) (rem *x* 1))\n(rem *x* 1)\n(+ 1 2)\n'
expect_lines "a deep list in an error message" 1 $'\nNIL\n' \
  "Error: The argument ((((((#)))))) is of the wrong type" "Break level 1" $'\n3\n'

# A deep form evaluated: its message and the restart naming it are short.
session "$nest"$'(nest 20000)\n(eval *x*)\n(+ 1 2)\n'
expect_lines "a deep form called" 1 "Error: The function ((((((#)))))) is undefined" \
  "in place of the call of ((((((#))))))"$'\n' "Break level 1" $'\n3\n'

# --- Images that cannot start ------------------------------------------

# expect_only_bad_start NAME LABEL: the two bad-start lines are all the
# output (after the banner's first lines at most), with no I/O error.
expect_only_bad_start() {
  if [[ $OUT == *"Fatal"* || $OUT == *"root-pointer"* || $OUT == *"overflow"* ]]; then
    fail "$2 (wanted no other error before the bad-start lines)"
  else
    expect_bad_start "$1" "$2"
  fi
}

# patched_stack N: the default image with stack size N, as $WORK/stackN.rol.
patched_stack() {
  cp "$IMAGE" "$WORK/stack$1.rol"
  printf "$(printf '\\x%02x\\x%02x\\x00\\x00' $(($1 & 255)) $(($1 >> 8)))" |
    dd of="$WORK/stack$1.rol" bs=1 seek=0 count=4 conv=notrunc status=none
}

for n in 2 11 255; do
  patched_stack $n
  run_in "$WORK" -ROL "stack$n.rol"
  expect_only_bad_start "stack$n.rol" "an image with stack size $n"
done
patched_stack 256
piped_in_cwd $'(+ 1 2)\n' "$ZORVA" -ROL "$WORK/stack256.rol"
expect_three "an image with stack size 256 starts" 0

# A damaged image: cut short, or with a word of its symbol table spoiled.
head -c 9000 "$IMAGE" >"$WORK/cut.rol"
run_in "$WORK" -ROL cut.rol
expect_only_bad_start cut.rol "an image cut short"
cp "$IMAGE" "$WORK/spoilt.rol"
printf '\x00\x00' | dd of="$WORK/spoilt.rol" bs=1 seek=94 count=2 conv=notrunc status=none
run_in "$WORK" -ROL spoilt.rol
expect_only_bad_start spoilt.rol "an image whose memory block counts no symbols"

finish
