# Integers beyond 64 bits in a saved world: EQL, EQUAL and EQUALP hash
# tables keyed by bignums, and integers on both sides of the 64-bit limits,
# saved by one process; the next process, started on that image, finds
# every key by a freshly computed equal one and gets the same integers.
# The heap room a world takes for big-number garbage stays out of the
# images it saves.
#
# With ZORVA_GC_STRESS set in the environment every run collects under
# stress too (CI runs this file once more that way).
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"

cat >"$WORK/cwd/fill.lsp" <<'EOF'
(defparameter *saved-tables*
  (list (make-hash-table :test 'eql) (make-hash-table :test 'equal)
        (make-hash-table :test 'equalp)))
(dotimes (k 200)
  (let ((x (expt -3 (+ 40 k))))
    (setf (gethash x (first *saved-tables*)) k
          (gethash (list x "k") (second *saved-tables*)) k
          (gethash x (third *saved-tables*)) k)))
(defparameter *saved-integers*
  (list (expt 2 64) (- (expt 2 63)) (1- (expt 2 63)) (- -1 (expt 2 63)) (expt 7 300)
        #c(36893488147419103232 -5)))
(save-image "integers")
EOF
run_in "$WORK/cwd" -ROL "$IMAGE" fill.lsp
if [ "$RC" -eq 0 ] && [ -f "$WORK/cwd/integers.ROL" ]; then pass; else fail "the world with bignums is saved"; fi

cat >"$WORK/cwd/check.lsp" <<'EOF'
(let ((bad 0))
  (dotimes (k 201)
    (let* ((x (expt -3 (+ 40 k))) (want (if (< k 200) k)))
      (unless (and (eql (gethash x (first *saved-tables*)) want)
                   (eql (gethash (list x "k") (second *saved-tables*)) want)
                   (eql (gethash x (third *saved-tables*)) want))
        (setq bad (1+ bad)))))
  (format t "missed ~D~%" bad))
(format t "~S~%" (mapcar (function hash-table-count) *saved-tables*))
(format t "~S~%" (mapcar (function type-of) *saved-integers*))
(format t "~S~%" (equal (butlast *saved-integers*)
                        (list (expt 2 64) (- (expt 2 63)) (1- (expt 2 63)) (- -1 (expt 2 63))
                              (expt 7 300))))
(format t "~S~%" (let ((c (car (last *saved-integers*)))) (list (realpart c) (imagpart c))))
EOF
run_in "$WORK/cwd" -ROL integers.ROL check.lsp
expect_lines "bignum keys and integers in the world started again" 0 \
  "missed 0" "(200 200 200)" "(BIGNUM BIGNUM BIGNUM BIGNUM BIGNUM COMPLEX)" "T" \
  "(36893488147419103232 -5)"

# A world that made big-number garbage quickly has taken heap room beyond
# what its data needs; an image it saves states only what the data needs,
# so a world started on it is no larger than one started on the default.
cat >"$WORK/cwd/churn.lsp" <<'EOF'
(defun fact (n) (let ((r 1)) (do ((i 2 (1+ i))) ((> i n) r) (setq r (* r i)))))
(dotimes (i 20) (fact 2000))
(format t "room ~S~%" (> (%gc 1) 4000000))
(save-image "churned")
EOF
run_in "$WORK/cwd" -ROL "$IMAGE" churn.lsp
# Under the stress mode the collections come before any shortage.
[ -n "${ZORVA_GC_STRESS:-}" ] || expect_lines "garbage made quickly gives the heap room" 0 "room T"
echo '(format t "free ~D~%" (%gc 1))' >"$WORK/cwd/free.lsp"
free_heap() { sed -n 's/^free \([0-9]*\)$/\1/p' <<<"$OUT"; }
run_in "$WORK/cwd" -ROL "$IMAGE" free.lsp
default_free=$(free_heap)
run_in "$WORK/cwd" -ROL churned.ROL free.lsp
churned_free=$(free_heap)
if [ -n "$default_free" ] && [ -n "$churned_free" ] && [ "$churned_free" -le $((default_free * 2)) ]; then
  pass
else
  fail "the saved image carries no room (free heap bytes: default $default_free, churned $churned_free)"
fi

finish
