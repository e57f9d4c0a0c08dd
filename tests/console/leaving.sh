# Every way out gives the terminal back as it was found (its modes, its
# own screen, the cursor): control-Z and fg, end of input, termination,
# hang-up and a crash signal.
source "$(dirname "$0")/common.bash"

start 80 25
type_text 'echo the shell screen'
keys Enter
wait_for '^the shell screen$'
zorva

# The kernel's process, for the signals: the child of this pane's shell
# (other tests may run kernels of their own meanwhile).
kernel_pid() { pgrep -P "$(tm display -p -t t '#{pane_pid}')" -x zorva; }

# Control-Z: the shell's screen and modes while stopped; fg redraws.
type_text '(+ 1 2)'
keys Enter
check "before suspending" '^3$'
keys C-z
check "stopped" 'Stopped'
check "the shell's screen while stopped" '^the shell screen$'
type_text "stty -g >$WORK/stty.stopped"
keys Enter
sleep 0.5
if cmp -s "$WORK/stty.before" "$WORK/stty.stopped"; then pass; else fail "modes while stopped"; fi
keys C-l
type_text 'fg'
keys Enter
check "redrawn after fg" '^> \(\+ 1 2\)$'
check_row "status line redrawn" 24 "1 value"
type_text '(* 3 3)'
keys Enter
check "evaluating after fg" '^9$'

# A termination signal.  (The job was stopped once, so the shell has
# dropped the rest of the command line: the modes are read here.)
kill -TERM "$(kernel_pid)"
check "terminated" 'Terminated'
check "the shell's screen after SIGTERM" '^shell\$ fg$'
type_text "stty -g >$WORK/stty.after"
keys Enter
sleep 0.5
if cmp -s "$WORK/stty.before" "$WORK/stty.after"; then pass; else fail "modes after SIGTERM"; fi

for sig in HUP SEGV; do
  keys C-l
  zorva
  type_text '(list 1 2)'
  keys Enter
  check "running before SIG$sig" '^\(1 2\)$'
  kill -"$sig" "$(kernel_pid)"
  check_left_cleanly "after SIG$sig"
  check_no_stray_escapes "after SIG$sig"
done

finish
