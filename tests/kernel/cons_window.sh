# The cons area fills the cons window: it grows where it lies, so a list
# of 1.8 million conses is built and stays usable, and the session goes on
# after it is dropped.
source "$(dirname "$0")/common.bash"

piped_in_cwd $'(defvar *l* nil)\n(progn (dotimes (i 1800000) (push i *l*)) (length *l*))\n(list (car *l*) (nth 1799999 *l*))\n(setq *l* nil)\n(+ 1 2)\n' \
  "$ZORVA" -ROL "$IMAGE"
expect_lines "1.8M conses pushed onto a list" 0 $'\n1800000\n' $'\n(1799999 0)\n' $'\nNIL\n' $'\n3\n'
if grep -q "exhausted" <<<"$OUT"; then fail "no exhaustion on the way"; else pass; fi

finish
