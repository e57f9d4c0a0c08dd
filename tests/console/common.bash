# Shared by the console tests, which drive the kernel on a real terminal:
# a tmux pane of a given size, keys sent as a person types them, and the
# screen read back.  Each test gets the kernel and the default image as $1
# and $2, and its own tmux server, so tests run side by side and need no
# terminal of their own (ctest runs them without one).  Sourced, not run.
set -u

ZORVA=$(readlink -f "$1")
IMAGE=$(readlink -f "$2")
if ! command -v tmux >/dev/null; then
  echo "SKIP: tmux is not installed"
  exit 77
fi
WORK=$(mktemp -d)
SOCK="$WORK/tmux.sock"
# A slow machine or a sanitizer build takes longer to answer.
PATIENCE=${ZORVA_CONSOLE_WAIT:-30}
passed=0
failed=0

printf 'set -g status off\nset -g history-limit 0\n' >"$WORK/tmux.conf"
tm() { tmux -S "$SOCK" -f "$WORK/tmux.conf" "$@"; }
cleanup() {
  tm kill-server 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# start COLS ROWS: a shell in a fresh pane, prompt "shell$ ", in $WORK/cwd.
# (The screen as captured has no trailing blanks.)
start() {
  mkdir -p "$WORK/cwd"
  tm kill-server 2>/dev/null
  tm new-session -d -s t -x "$1" -y "$2" -c "$WORK/cwd" \
    "ulimit -c 0; env -u ZORVA_LINE_MODE PS1='shell\$ ' bash --norc --noprofile -i"
  wait_for 'shell\$'
}

# zorva ARGS...: the kernel started from the shell of the pane.
zorva() {
  keys "stty -g >$WORK/stty.before; $ZORVA -ROL $IMAGE $*; echo \"rc=\$?\"; stty -g >$WORK/stty.after" Enter
  wait_for 'Top level'
}

keys() { tm send-keys -t t "$@"; }
# Text typed literally (no key names).
type_text() { tm send-keys -t t -l "$1"; }

screen() { tm capture-pane -t t -p; }
colours() { tm capture-pane -t t -p -e; }
# Row N of the screen (from 0), trailing blanks removed.
row() { screen | sed -n "$(($1 + 1))p" | sed 's/ *$//'; }

# wait_for REGEX: until the screen matches (grep -E); false after PATIENCE
# seconds.
wait_for() {
  local end=$((SECONDS + PATIENCE))
  while ((SECONDS < end)); do
    if screen | grep -Eq -- "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# settle: until the screen stops changing for a moment.
settle() {
  local last now end=$((SECONDS + PATIENCE))
  last=$(screen)
  while ((SECONDS < end)); do
    sleep 0.3
    now=$(screen)
    [ "$now" == "$last" ] && return 0
    last=$now
  done
}

pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAIL: $1"
  screen | sed 's/^/    | /'
  return 0
}
# check LABEL REGEX: the screen matches now or within PATIENCE seconds.
check() {
  if wait_for "$2"; then pass; else fail "$1 (wanted /$2/)"; fi
}
# check_row LABEL N TEXT: row N is exactly TEXT (after it settles).
check_row() {
  settle
  local got
  got=$(row "$2")
  if [ "$got" == "$3" ]; then pass; else fail "$1 (row $2: wanted '$3', got '$got')"; fi
}

# Ending the kernel: the shell is back on its own screen with its modes.
check_left_cleanly() {
  if wait_for 'rc=[0-9]+' && wait_for '^shell\$ ?$'; then pass; else fail "$1: the shell is back"; fi
  if [ -s "$WORK/stty.after" ] && cmp -s "$WORK/stty.before" "$WORK/stty.after"; then
    pass
  else
    fail "$1: the terminal modes are as they were"
  fi
}

# No escape sequence may show up as text.
check_no_stray_escapes() {
  if screen | grep -Eq $'\e|\\^\\[|\\[[0-9]*;[0-9]*[A-Za-z~]|\\[\\?[0-9]+[hl]|\\[[0-9]+~'; then
    fail "$1: stray escape sequences"
  else
    pass
  fi
}

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
