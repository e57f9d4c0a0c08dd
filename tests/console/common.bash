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

# A line typed and entered.
enter() {
  type_text "$1"
  keys Enter
}

screen() { tm capture-pane -t t -p; }
# Threads that print "tick N" lines: the last N on the screen, and
# whether it is above a count.
last_tick() { screen | grep -Eo '^tick [0-9]+$' | tail -1 | cut -d' ' -f2; }
ticks_after() { [ "$(last_tick)" -gt "$1" ] 2>/dev/null; }
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

# wait_until COMMAND...: until the command succeeds; false after PATIENCE
# seconds.  Every expectation polls: the kernel answers when the machine
# lets it.
wait_until() {
  local end=$((SECONDS + PATIENCE))
  while ((SECONDS < end)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# settle: until the screen stops changing for half a second.
settle() {
  local last now end=$((SECONDS + PATIENCE))
  last=$(screen)
  while ((SECONDS < end)); do
    sleep 0.5
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
screen_lacks() { ! screen | grep -Eq -- "$1"; }
# check_gone LABEL REGEX: nothing on the screen matches, now or soon.
check_gone() {
  if wait_until screen_lacks "$2"; then pass; else fail "$1 (/$2/ still there)"; fi
}
row_is() { [ "$(row "$1")" == "$2" ]; }
# check_row LABEL N TEXT: row N is exactly TEXT, now or soon.
check_row() {
  if wait_until row_is "$2" "$3"; then pass; else fail "$1 (row $2: wanted '$3', got '$(row "$2")')"; fi
}
row_matches() { row "$1" | grep -Eq -- "$2"; }
# check_row_matches LABEL N REGEX
check_row_matches() {
  if wait_until row_matches "$2" "$3"; then pass; else fail "$1 (row $2: wanted /$3/)"; fi
}
# Where the cursor is, as "column,row" of the screen.
cursor() { tm display-message -p -t t '#{cursor_x},#{cursor_y}'; }
# The row (from 0) of the last line that is exactly TEXT.
row_of() { screen | grep -nxF -- "$1" | tail -1 | cut -d: -f1 | awk '{print $1 - 1}'; }
# The line right below the last one that is exactly TEXT.
line_after() { screen | grep -xF -A1 -- "$1" | tail -1; }
follows() { [ "$(line_after "$1")" == "$2" ]; }
# check_follows LABEL LINE NEXT: the line below LINE is NEXT, now or soon.
check_follows() {
  if wait_until follows "$2" "$3"; then pass; else fail "$1 (below '$2': wanted '$3', got '$(line_after "$2")')"; fi
}
cursor_at_end_of() { [ "$(cursor)" == "${#1},$(row_of "$1")" ]; }
# check_cursor_after LABEL LINE: the cursor stands right after LINE, the
# last line that is exactly that.
check_cursor_after() {
  if wait_until cursor_at_end_of "$2"; then pass; else fail "$1 (cursor $(cursor), line '$2' on row $(row_of "$2"))"; fi
}
colours_match() { colours | grep -qF -- "$1"; }
# check_colours LABEL TEXT: the screen with its colours contains TEXT (the
# escape sequences of tmux's capture included).
check_colours() {
  if wait_until colours_match "$2"; then pass; else fail "$1"; fi
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
