# Integers beyond 64 bits in a saved world: EQL, EQUAL and EQUALP hash
# tables keyed by bignums, and integers on both sides of the 64-bit limits,
# saved by one process; the next process, started on that image, finds
# every key by a freshly computed equal one and gets the same integers.
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

finish
