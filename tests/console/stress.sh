# Rapid size changes while output runs, and large pastes: the console keeps
# working, loses nothing of a pasted line and leaves the terminal as it
# was.  (Run under the sanitizer build too, where an overrun would show.)
source "$(dirname "$0")/common.bash"

start 80 25
zorva

# Sizes down to a single row and column and back while a loop prints
# (each change is taken at once, not only when the loop is over).
type_text '(dotimes (i 3000) (print i))'
keys Enter
for i in $(seq 0 29); do
  tm resize-window -t t -x $((1 + i * 7 % 120)) -y $((1 + i * 5 % 40))
  sleep 0.05
done
# Then two settled changes (tmux may apply a burst of its own changes to
# the pane in another order than they were asked for).
sleep 0.5
tm resize-window -t t -x 79 -y 24
sleep 0.5
tm resize-window -t t -x 80 -y 25
# What a size of one row cut off is gone; the console goes on.
type_text '(list (quote after) (quote resizes))'
keys Enter
check "evaluating after the resizes" '^\(AFTER RESIZES\)$'
check_row "status line on the last row" 24 "1 value"
type_text '(window-size)'
keys Enter
check "the final size" '^25$'

# One pasted line far longer than the screen: whole when entered.
line="(length \"$(printf 'abcdefghij%.0s' $(seq 400))\")"
tm set-buffer -b p "$line"
tm paste-buffer -p -b p -t t
keys Enter
check "a pasted line of 4000 characters" '^4000$'

# Many pasted lines, each ending as Enter would, while the size changes.
lines=""
for i in $(seq 1 60); do lines+="(* $i 2)"$'\n'; done
tm set-buffer -b q "$lines"
tm paste-buffer -p -b q -t t
tm resize-window -t t -x 50 -y 15
tm resize-window -t t -x 80 -y 25
check "the last pasted form" '^120$'
type_text '(+ 1 2)'
keys Enter
check "still evaluating" '^3$'
check_no_stray_escapes "after resizes and pastes"

type_text '(exit)'
keys Enter
check_left_cleanly "leaving after the stress"

finish
