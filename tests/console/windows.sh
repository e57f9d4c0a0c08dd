# Tab completion, F1 help and the screen it covers, windows made from
# Lisp, the history, and a change of the terminal's size.
source "$(dirname "$0")/common.bash"

start 80 25
zorva

# Tab: a unique completion is inserted; several insert what they share
# and show themselves in the status line.
type_text '(apropo'
keys Tab
check "unique completion" '^> \(apropos$'
type_text ' "CAR") (make-ha'
keys Tab
check "completed in the middle" '\(make-hash-table$'
keys Escape
check_gone "Esc clears the line" '\(make-hash-table$'
type_text '(wind'
keys Tab
check "ambiguous: the candidates" '^WINDOW-ATTRIBUTE WINDOW-CURSOR WINDOW-ORIGIN .* [.]{3}$'
check "ambiguous: what they share" '\(window-$'
keys Escape
check_gone "and again" '\(window-$'

# F1 on a symbol: its documentation in a window; Esc puts the screen back.
type_text '(apropos "x")'
keys Left Left Left Left Left Left Left Left Left
keys F1
check "help window" 'APROPOS is a function with the lambda list \(STRING &OPTIONAL PACKAGE\)'
check_row "help in the status line" 24 "Help on apropos ..."
keys Escape
check_gone "Esc closes the help window" 'lambda list'
check "the line is still there" '^> \(apropos "x"\)$'
check_row "the status line is back" 24 "Top level"
keys Escape
check_gone "the line cleared" '^> \(apropos "x"\)$'

# F1 on an empty line: the keys.
keys F1
check "general help" 'The keys of the line editor'
check "the paging key" 'Control-S +paging on or off'
keys Escape
check_gone "general help closed" 'The keys of the line editor'

# A window from Lisp: text written into it, the screen under it saved and
# put back.
type_text '(defvar *w* (make-window-stream 3 10 6 40 #x1F))'
keys Enter
check "window made" '^\*W\*$'
type_text '(progn (save-window-screen *w*) (clear-window *w*) (princ "inside the window" *w*) (sleep 2) (restore-window-screen *w*) (window-cursor *w*))'
keys Enter
check "text in the window" '^.{10}inside the window'
if colours | grep 'inside the window' | grep -q $'\e\\[97m\e\\[44minside'; then
  pass
else
  fail "the window's colours (bright white on blue)"
fi
check "restored" '^17$'
check_row_matches "the screen under the window is back" 3 '^Stack size [0-9]*; free'

# The history: Up gives older lines, Down newer ones.
type_text '(list 1)'
keys Enter
type_text '(list 2)'
keys Enter
keys Up Up
check "Up twice" '^> \(list 1\)$'
keys Down Enter
check "Down" '^\(2\)$'

# Control-S, the Scroll Lock of this console: with paging on, output
# waits after each screenful; Control-S at the pause turns it off again.
keys C-s
type_text '(dotimes (i 60) (print i))'
keys Enter
check_row "a screenful, then the pause" 24 "-- More -- (press any key)"
check "the output stops" '^2[0-9]$'
check_gone "not further" '^5[0-9]$'
keys Space
check "the next screenful" '^4[0-9]$'
check_row "and the pause again" 24 "-- More -- (press any key)"
keys C-s x
check "to the end" '^NIL$'
check_row "no more pauses" 24 "1 value"

# A smaller terminal: the windows are laid out again, the text kept.
tm resize-window -t t -x 60 -y 12
check_row "status line on the new last row" 11 "1 value"
check "the last lines kept" '^59$'
type_text '(window-size)'
keys Enter
check "the new size" '^12$'
tm resize-window -t t -x 100 -y 30
check_row "status line after growing" 29 "2 values"
check_no_stray_escapes "after resizing"

keys M-F4
wait_for 'Leave the system'
keys y
check_left_cleanly "after the windows"

finish
