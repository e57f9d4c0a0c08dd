# Another thread prints while a line is typed at the prompt: its lines
# appear whole above the prompt, which is drawn again below them with
# what was typed so far; nothing printed is lost and the line entered is
# the line typed.
source "$(dirname "$0")/common.bash"

start 80 50
zorva

enter '(defvar *n* 0)'
enter '(defun ticker () (loop (when (> (incf *n*) 12) (return)) (format t "~&tick ~D~%" *n*) (sleep 0.2)))'
enter '(progn (bt:make-thread (function ticker) :name "ticker") nil)'
check "the other thread prints" '^tick 1$'
# Typed a key at a time while the ticks come.
for c in '(' l i s t ' ' 1 ' ' 2 ' ' 3 ' ' '"' a b c '"' ')'; do
  type_text "$c"
  sleep 0.12
done
check "the prompt and the line so far below the ticks" '^> \(list 1 2 3 "abc"\)$'
keys Enter
check "the line entered is the line typed" '^\(1 2 3 "abc"\)$'
check "the ticker ends" '^tick 12$'
settle

# Every tick once and whole, the typed line once after the prompt.
ticks=$(screen | grep -c '^tick [0-9]*$')
if [ "$ticks" -eq 12 ]; then pass; else fail "every tick line is there, once ($ticks of 12)"; fi
for i in $(seq 1 12); do
  if [ "$(screen | grep -c "^tick $i\$")" -ne 1 ]; then fail "tick $i once"; fi
done
if [ "$(screen | grep -c 'list 1 2 3')" -eq 1 ]; then pass; else fail "the typed line is there once"; fi
if screen | grep -E 'tick [0-9]' | grep -Evq '^tick [0-9]+$'; then fail "a tick line is mixed with other text"; else pass; fi
check_no_stray_escapes "while typing among ticks"

enter '(exit)'
check_left_cleanly "leaving"
finish
