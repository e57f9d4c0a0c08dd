# Error messages as a user sees them on a piped session: the text of the
# error with its object, where it happened, and the continuation of a
# continuable error; the texts from 40 up come from the documentation files
# beside the kernel, and documentation strings reach the user's files in
# the working directory.
source "$(dirname "$0")/common.bash"

BIN=$(dirname "$ZORVA")

# session INPUT [KERNEL [ARGS...]]: the kernel (default the built one) in
# $WORK/cwd with INPUT piped in; sets OUT, RC and ERR.
session() {
  local input=$1 kernel=${2:-$ZORVA}
  shift $(($# < 2 ? $# : 2))
  piped_in_cwd "$input" "$kernel" "$@"
}

session $'(+ 1 2)\n'
if [[ $OUT != *$'\n3\n'* ]]; then
  echo "SKIP: the kernel does not evaluate (+ 1 2) yet"
  exit 77
fi
if [ ! -f "$BIN/ENGLISH.IND" ] || [ ! -f "$BIN/ENGLISH.HLL" ]; then
  echo "FAIL: no documentation files beside the kernel in $BIN"
  exit 1
fi

# The start-up report is a message of the documentation files too.
[[ $OUT == *$'\nStack size '*' cons cells'*' symbols'*' heap bytes'* ]] &&
  [[ $OUT != *"message text missing"* ]] && pass || fail "start-up memory report"

# Wrong type, undefined function and unbound variable, each with the
# function it happened in; the break loop goes on after each.
session $'(car 5)\n(no-such-function 1 2)\nno-such-variable\n(+ 3 4)\n'
expect_lines "errors of the evaluator and the built-ins" 1 \
  $'\nError: The argument 5 is of the wrong type or out of range\nIn function CAR\n' \
  "Break level 1" \
  $'\nError: The function NO-SUCH-FUNCTION is undefined\nIn function APPLY\n' \
  "Break level 2" \
  $'\nError: The variable NO-SUCH-VARIABLE is unbound\n' \
  "Break level 3" $'\n7\n'
[[ $OUT != *"message text missing"* ]] && pass || fail "no message is missing"

# A continuable error shows what continuing does.
session $'(car (quote (1)) 2)\n'
expect_lines "continuable error" 1 \
  $'\nError: Too many arguments; 2 is the first one too many\nIn function CAR\n' \
  $'To continue (F5): ignore the argument 2\n'

# The reader's errors name the offending text.
session $')\n'
expect_lines "reader error" 1 $'\nError: Unmatched ): no list is open\n'

# A documentation string goes to the user's files in the working
# directory and is found there by a later session.
rm -rf "$WORK/cwd"
session $'(defun documented () "Says hello." (quote hello))\n'
[ -f "$WORK/cwd/ZORVADOC.IND" ] && [ -f "$WORK/cwd/ZORVADOC.HLL" ] && pass ||
  fail "definitions write ZORVADOC.IND and ZORVADOC.HLL"
session $'(documentation (quote documented) (quote function))\n'
[[ $OUT == *$'\n"Says hello."\n'* ]] && pass || fail "documentation found by a later session"

# With RUSSIAN on the features the texts come from the RUSSIAN pair when
# there is one (here a pair holding message 50 alone, written byte by byte:
# a record with an empty first key and the fixnum 50 as second key), and
# from the ENGLISH pair when there is none.
mkdir -p "$WORK/ru"
cp "$ZORVA" "$WORK/ru/zorva"
cp "$IMAGE" "$WORK/ru/zorva.ROL"
cp "$BIN/ENGLISH.IND" "$BIN/ENGLISH.HLL" "$WORK/ru/"
session $'(car 5)
' "$WORK/ru/zorva" '#+RUSSIAN'
expect_lines "RUSSIAN without its pair keeps the English texts" 1 \
  $'\nError: The argument 5 is of the wrong type or out of range\n'
printf '\001\000\000\000\000\000\000\000\000\000\000\000\004\000\013\062\000\000' >"$WORK/ru/RUSSIAN.IND"
printf '"Wrong: ~S"\n' >"$WORK/ru/russian.hll"
session $'(car 5)\n(foo)\n' "$WORK/ru/zorva" '#+RUSSIAN'
expect_lines "the RUSSIAN pair" 1 $'\nError: Wrong: 5\n' $'\nError: (message text missing) FOO\n'

# Without the documentation files the messages stand in, with the error's
# objects, and nothing else fails.
mkdir -p "$WORK/bare"
cp "$ZORVA" "$WORK/bare/zorva"
cp "$IMAGE" "$WORK/bare/zorva.ROL"
session $'(car 5)\n' "$WORK/bare/zorva"
expect_lines "messages without documentation files" 1 \
  $'\nError: (message text missing) 5\nIn function CAR\n'

finish
