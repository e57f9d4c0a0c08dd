# Host programs and the editor: exit codes, arguments as the program sees
# them, the ten-argument rule, the system's own limit on the argument
# list, captured output, and editing an object through a script standing
# in for the user's editor.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd" "$WORK/bin" "$WORK/tmp"
cd "$WORK/cwd" || exit 1

# A program that shows its arguments one per line, between brackets.
cat >"$WORK/bin/show-args" <<'SH'
#!/bin/sh
for a in "$@"; do printf '[%s]\n' "$a"; done
exit 7
SH
# The "editor": doubles every number in the file it is given, and notes
# where the file was.
cat >"$WORK/bin/edit-numbers" <<'SH'
#!/bin/sh
sed 's/\([0-9][0-9]*\)/\1\1/g' "$1" >"$1.new" && mv "$1.new" "$1"
printf '%s\n' "$1" >>"$EDIT_LOG"
SH
chmod +x "$WORK/bin/show-args" "$WORK/bin/edit-numbers"
export PATH="$WORK/bin:$PATH"

lisp() {
  local file=$1
  shift
  run_in "$WORK/cwd" -ROL "$IMAGE" "$file" "$@"
}

cat >programs.lsp <<'LISP'
(defmacro error-objects (form)
  `(multiple-value-call (lambda (value failure) (cdddr failure)) (%catch-error ,form)))
(format t "true ~S false ~S~%" (run-program "true") (run-program "false"))
(format t "shell ~S~%" (shell "exit 12"))
(format t "code ~S~%" (run-program "show-args" "a b" 'sym 42 "" nil "last"))
(multiple-value-bind (text code) (program-output "show-args" "x" "y z")
  (format t "captured ~S ~S~%" text code))
(format t "lines ~S~%" (length (program-output "seq" 1 20000)))
(format t "missing ~S~%" (error-objects (run-program "no-such-program-here")))
(format t "too long ~S~%"
        (error-objects (run-program "true" (make-string 300000 :initial-element #\x))))
LISP
lisp programs.lsp
expect_lines "programs: exit codes, arguments, captured output, failures" 0 \
  "true 0 false 1" "shell 12" "[a b]" "[SYM]" "[42]" "[]" "[last]" "code 7" \
  $'captured "[x]\n[y z]\n" 7' "lines 108894" \
  'missing ("no-such-program-here" "No such file or directory")' \
  'too long ("true" "Argument list too long")'
# What the program writes comes after what the kernel wrote before it.
[[ $OUT == *$'shell 12\n[a b]'* ]] && pass || fail "program output in order with the kernel's"

# Without arguments: the user's shell, started with nothing else.
cat >"$WORK/bin/fake-shell" <<'SH'
#!/bin/sh
echo "shell with $# arguments"
exit 5
SH
chmod +x "$WORK/bin/fake-shell"
printf '(format t "~&code ~S~%%" (run-program))\n' >shell.lsp
SHELL="$WORK/bin/fake-shell" lisp shell.lsp
expect_lines "the user's shell" 0 "shell with 0 arguments" "code 5"

# Eleven arguments: the continuable error names the eleventh; a run from
# the command line ends there.
printf '(run-program "show-args" 1 2 3 4 5 6 7 8 9 10)\n' >eleven.lsp
lisp eleven.lsp
if [ "$RC" -eq 1 ] && [[ $OUT == *"Too many arguments; 10 is the first one too many"* ]] &&
  [[ $OUT != *"[1]"* ]]; then
  pass
else
  fail "eleven arguments to a program"
fi
printf '(run-program "show-args" 1 2 3 4 5 6 7 8 9)\n' >ten.lsp
lisp ten.lsp
[ "$RC" -eq 0 ] && [[ $OUT == *"[9]"* ]] && pass || fail "ten arguments in all are fine"

# --- The editor

export EDIT_LOG="$WORK/edit.log"
cat >edit.lsp <<'LISP'
(setq %editor "edit-numbers")
(format t "edited ~S~%" (ed '(1 (2 "x") 30)))
(defun price (n) (* n 3))
(ed 'price)
(format t "redefined ~S~%" (price 1))
(format t "file ~A~%" ed)
LISP
: >"$EDIT_LOG"
ZVTMP="$WORK/tmp" lisp edit.lsp
expect_lines "an object edited through the editor" 0 'edited (11 (22 "x") 3030)' "redefined 33"
files=$(ls -A "$WORK/tmp")
[ -z "$files" ] && pass || fail "the temporary files are gone after the edits ($files)"
if [ "$(wc -l <"$EDIT_LOG")" -eq 2 ] && [ "$(grep -c "^$WORK/tmp/" "$EDIT_LOG")" -eq 2 ] &&
  [ "$(sort -u "$EDIT_LOG" | wc -l)" -eq 2 ]; then
  pass
else
  fail "each edit gets a file of its own in ZVTMP: $(cat "$EDIT_LOG")"
fi

# The editor from EDITOR when %EDITOR is not set; TMPDIR when ZVTMP names
# no directory.
printf '(format t "edited ~S~%%" (ed 21))\n' >env.lsp
: >"$EDIT_LOG"
EDITOR=edit-numbers VISUAL= ZVTMP="$WORK/none" TMPDIR="$WORK/tmp" lisp env.lsp
expect_lines "EDITOR and TMPDIR" 0 "edited 2121"
grep -q "^$WORK/tmp/" "$EDIT_LOG" && pass || fail "TMPDIR holds the file when ZVTMP is no directory"

# An edit that cannot be read back keeps the file, so nothing typed is lost.
cat >"$WORK/bin/edit-breaks" <<'SH'
#!/bin/sh
printf '(unfinished' >"$1"
SH
chmod +x "$WORK/bin/edit-breaks"
printf '(setq %%editor "edit-breaks")\n(ed (list 1 2))\n' >broken.lsp
ZVTMP="$WORK/tmp" lisp broken.lsp
kept=$(ls "$WORK/tmp")
if [ "$RC" -eq 1 ] && [ -n "$kept" ] && [ "$(cat "$WORK/tmp/$kept")" == "(unfinished" ]; then
  pass
else
  fail "an edit that does not read back stays in its file"
fi

finish
