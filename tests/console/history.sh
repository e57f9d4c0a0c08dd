# The input history: older and newer lines, lines not kept twice, and the
# history carried by an image saved and started again.
source "$(dirname "$0")/common.bash"

start 80 25
zorva

for n in 1 2 2 3; do
  type_text "(list $n)"
  keys Enter
  wait_for "^\\($n\\)$"
done
check "the lines" '^\(3\)$'
keys Up Up
check "two lines back" '^> \(list 2\)$'
keys Up
check "a repeated line is kept once" '^> \(list 1\)$'
keys Down Down
check "newer again" '^> \(list 3\)$'
keys Down
check_row "Down past the newest: the empty line typed" 12 ">"
keys Enter
check_row "an empty line: the prompt again" 13 ">"

# A long line, longer than a history slot.
long="(length (list $(printf '%s ' $(seq 1000 1099))))"
type_text "$long"
keys Enter
check "a long line" '^100$'

# Saved with the image, the history comes back with it.
type_text '(%save-image "HIST.ROL")'
keys Enter
wait_for '^T$'
type_text '(exit)'
keys Enter
check_left_cleanly "after saving"
keys C-l
keys "$ZORVA -ROL HIST.ROL" Enter
wait_for 'Top level'
keys Up
check "the saving line itself, the newest" '^> \(%save-image "HIST.ROL"\)$'
keys Up
check "the long line from the image" '1099 \)\)$'
keys Up
check "the line before it" '^> \(list 3\)$'
keys M-F4
wait_for 'Leave the system'
keys y
wait_for '^shell\$ ?$'
pass

finish
