# A program run from the console gets the terminal as the shell had it:
# the shell's own screen, cooked mode with echo; afterwards the console is
# in raw mode on its private screen again, every cell redrawn.
source "$(dirname "$0")/common.bash"

start 80 25
type_text 'echo the shell screen'
keys Enter
wait_for '^the shell screen$'
type_text 'export SHELL=/bin/sh'
keys Enter
zorva

# The program reports the modes it sees and waits for a line, so the
# screen can be read while it runs.
type_text '(list 1 2 3)'
keys Enter
check "before the program" '^\(1 2 3\)$'
type_text "(shell \"echo modes:; stty -a | tr ' ;' '\\\\n\\\\n' | grep -x -e icanon -e echo; read x; echo got \$x\")"
keys Enter
check "the program sees cooked mode" '^icanon$'
check "and echo" '^echo$'
check "the shell's screen while it runs" '^the shell screen$'
check_gone "not the console's screen" '^\(1 2 3\)$'
type_text 'typed'
check "its input echoed by the terminal" '^typed$'
keys Enter
check "the console's screen again" '^\(1 2 3\)$'
check "the exit code" '^0$'
check_gone "the shell's screen gone" '^the shell screen$'
check_row "the status line redrawn" 24 "1 value"
check_no_stray_escapes "after the program"

# Raw mode again: a key is taken at once, and the editor's keys work.
type_text '(+ 1 2)'
keys Left Left BSpace BSpace
keys Enter
check "raw mode after the program" '^> \(\+ 2\)$'
check "evaluated" '^2$'

# The user's shell, interactively, with the terminal's modes as found.
type_text '(run-program)'
keys Enter
check "the user's shell" '^shell\$ ?$'
type_text "stty -g >$WORK/stty.inner; exit 3"
keys Enter
check "the shell's exit code" '^3$'
if wait_until test -s "$WORK/stty.inner" && cmp -s "$WORK/stty.before" "$WORK/stty.inner"; then
  pass
else
  fail "the shell saw the terminal's own modes"
fi

# A program that cannot start: an error, with the console's screen kept.
type_text '(run-program "no-such-program-here")'
keys Enter
check "a program that cannot start" 'no-such-program-here'
check "still on the console's screen" '^\(1 2 3\)$'
type_text '(exit)'
keys Enter
check_left_cleanly "exit after programs"
check_no_stray_escapes "at the end"

finish
