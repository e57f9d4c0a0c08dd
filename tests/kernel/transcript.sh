# Piped sessions compared with what a user expects to see: the banner, the
# prompt, values, errors with their message and break banner, command
# characters, the start-up file, and the exit codes at the end of input.
source "$(dirname "$0")/common.bash"

BANNER=$'\nZorva / Version 3.7 / Common LISP & CLOS compliant\nKernel for POSIX terminals, 455 built-in functions'

# session INPUT ARGS...: the kernel in $WORK/cwd with INPUT piped in; sets
# OUT, RC and ERR, and SESSION: the output after the banner and the memory
# report (whose numbers depend on the image), from the first prompt on.
session() {
  local input=$1
  shift
  mkdir -p "$WORK/cwd"
  OUT=$(cd "$WORK/cwd" && printf '%s' "$input" | timeout 60 "$ZORVA" "$@" 2>"$WORK/stderr")
  RC=$?
  ERR=$(cat "$WORK/stderr")
  SESSION=""
  [[ $OUT == "$BANNER"$'\n'* ]] || return 0
  local rest=${OUT#"$BANNER"$'\n'}
  # The report ends where the first prompt starts a line.
  [[ $rest == *$'\n> '* ]] && SESSION="> ${rest#*$'\n> '}"
}

# expect_session LABEL CODE TEXT: exactly this after the banner and report.
expect_session() {
  if [ "$RC" -eq "$2" ] && [ "$SESSION" == "$3" ]; then
    pass
  else
    fail "$1 (wanted exit code $2 and, after the banner, exactly:"$'\n'"$3"$'\n)'
  fi
}

# Without a reader, an evaluator and a printer there is no session to see.
session $'(+ 1 2)\n'
if [[ $OUT != "$BANNER"* ]] || [[ $OUT != *$'\n3\n'* ]]; then
  echo "SKIP: the kernel does not evaluate (+ 1 2) yet"
  printf '%s\n' "$OUT" | sed 's/^/  /'
  exit 77
fi

# The banner, one prompt per form read, the value on a line of its own,
# and exit code 0 at the end of the input.
expect_session "one form" 0 $'> \n3\n> '

session $'(values 1 "two")\n(values)\n'
expect_session "several values and none" 0 $'> \n1\n"two"\n> \nNIL\n> '

# A form may span lines and share a line with others; a comment after the
# last form is no error.
session $'(+ 1\n 2) (+ 3 4)\n; the end\n'
[[ $SESSION == *$'\n3\n7\n'* ]] && [ "$RC" -eq 0 ] && pass ||
  fail "forms over lines and several on a line"

# An error prints its message, where it happened and the break banner; the
# break loop evaluates what follows, and the end of input inside it exits
# with code 1.
session $'(open "nofile")\n(+ 3 4)\n'
expect_lines "error, break loop, end of input inside it" 1 \
  "Error: File nofile does not exist" "In function OPEN" "Break level 1" "Break> " $'\n7\n'

# The end of input inside a form is an error, at any level.
session $'(+ 1'
[ "$RC" -eq 1 ] && pass || fail "end of input inside a form"

# Command characters: a function's value is printed as a form's would be;
# one with no values prints nothing and reads on without a prompt; one
# returning ESC starts a fresh prompt.
session '(progn (setq %top-level-commands (list (cons #\! (function (lambda () 42))) (cons #\? (function (lambda () (values)))) (cons #\% (function (lambda () (code-char 27)))))) nil)
!
?
(+ 1 1)
%
(+ 2 2)
'
expect_session "command characters" 0 $'> \nNIL\n> \n42\n> \n2\n> \n> \n4\n> '

# Input that is not a window gets its prompt from the driver, and its end
# ends the session as the end of standard input would.
session $'(progn (setq *standard-input* (make-string-input-stream "(+ 5 5) 7")) nil)\n(+ 1 1)\n'
expect_session "input from a string stream" 0 $'> \nNIL\n> \n10\n> \n7\n> '

# The histories: * ** *** for primary values, / for the lists of values,
# + ++ for the forms read.
session $'(values 1 2)\n(+ 1 2)\n(list * ** / (car ++))\n'
[[ $SESSION == *$'\n(3 1 (3) VALUES)\n'* ]] && pass || fail "histories"

# The start-up file: with STARTUP on the features list, STARTUP.LSP of the
# working directory is loaded before the first prompt, found whatever the
# case of its name.
mkdir -p "$WORK/cwd"
printf '(setq *started* 17)\n' >"$WORK/cwd/startup.lsp"
session $'*started*\n' '#+STARTUP'
[[ $OUT == *$'\n17\n'* ]] && [ "$RC" -eq 0 ] && pass || fail "start-up file"
rm "$WORK/cwd/startup.lsp"
session $'(+ 1 2)\n' '#+STARTUP'
[ "$RC" -eq 0 ] && pass || fail "start-up feature without the file"

finish
