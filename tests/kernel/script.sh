# Files run from the command line: zorva FILE [ARGS...] loads the file and
# exits, 0 when it ran to its end and 1 when an error was not handled, with
# only the program's own output (no banner, no prompt); --help and
# --version answer and exit 0.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"
cd "$WORK/cwd" || exit 1

# run_script ARGS...: the kernel with the default image, no input.
run_script() { run_kernel_in "$WORK/cwd" "$ZORVA" -ROL "$IMAGE" "$@"; }

cat >square.lsp <<'LISP'
(defun square (x) (* x x))
(format t "~D squared is ~D~%" 12 (square 12))
(format t "arguments: ~S~%" *script-arguments*)
LISP
run_script square.lsp one "two words"
want=$'12 squared is 144\narguments: ("one" "two words")'
if [ "$RC" -eq 0 ] && [ "$OUT" == "$want" ]; then pass; else fail "a script's own output, exit 0"; fi

# An unhandled error: its message and the function, then exit 1; nothing
# after the error runs.
cat >fails.lsp <<'LISP'
(defun first-of (x) (car x))
(format t "before~%")
(first-of 5)
(format t "after~%")
LISP
run_script fails.lsp
if [ "$RC" -eq 1 ] && [[ $OUT == before$'\n'*Error:*5*CAR* ]] && [[ $OUT != *after* ]] &&
  [[ $OUT != *Break* ]]; then
  pass
else
  fail "an unhandled error ends the run with exit 1"
fi

# An error inside the library's own helpers names the standard function
# the program called.
for call in '(open "nofile.txt")|OPEN' '(count 1 5)|COUNT' '(funcall (function car) 5)|CAR'; do
  printf '%s\n' "${call%|*}" >internal.lsp
  run_script internal.lsp
  if [ "$RC" -eq 1 ] && [[ $OUT == *"In function ${call#*|}" ]]; then
    pass
  else
    fail "an error in ${call%|*} is reported in ${call#*|}"
  fi
done

# ERROR from the program itself, and an explicit exit code.
printf '(error "Bad input: ~S" (list 1 2))\n' >errs.lsp
run_script errs.lsp
[ "$RC" -eq 1 ] && [[ $OUT == *'Bad input: (1 2)'*'LOAD'* ]] && pass || fail "ERROR in a script"
printf '(format t "bye~%%")\n(exit 3)\n(format t "not reached~%%")\n' >exits.lsp
run_script exits.lsp
[ "$RC" -eq 3 ] && [ "$OUT" == "bye" ] && pass || fail "EXIT with a code"

# A handled error does not end the run.
printf '(format t "~S~%%" (ignore-errors (car 5)))\n' >handled.lsp
run_script handled.lsp
[ "$RC" -eq 0 ] && [ "$OUT" == "NIL" ] && pass || fail "a handled error"

# A script may read its standard input.
printf '(format t "got ~S~%%" (read))\n' >reads.lsp
OUT=$(printf '(a b)\n' | timeout 60 "$ZORVA" -ROL "$IMAGE" reads.lsp 2>/dev/null)
RC=$?
[ "$RC" -eq 0 ] && [ "$OUT" == "got (A B)" ] && pass || fail "a script reads standard input"

run_script missing.lsp
[ "$RC" -eq 1 ] && [[ $OUT == *missing.lsp* ]] && pass || fail "a missing file"

run_script --version
[ "$RC" -eq 0 ] && [[ $OUT == "Zorva 3.7"* ]] && pass || fail "--version"
run_script --help
[ "$RC" -eq 0 ] && [[ $OUT == Usage:* ]] && [[ $OUT == *--version* ]] && pass || fail "--help"

# Without a file the top level is interactive: banner, prompt, values.
OUT=$(printf '(+ 1 2)\n' | timeout 60 "$ZORVA" -ROL "$IMAGE" 2>/dev/null)
RC=$?
[ "$RC" -eq 0 ] && [[ $OUT == *Zorva*$'\n3\n'* ]] && pass || fail "interactive without a file"

finish
