# Saving the world and starting it again: definitions, global values, hash
# tables, closures and structures come back in a new process (classes and
# their instances are save_objects.sh's); a world saved with a top-level
# function is a program; a save that fails leaves the old image as it was;
# loading an image into the running world replaces it, and a bad image
# leaves it working.
#
# With ZORVA_GC_STRESS set in the environment every run collects under
# stress too (CI runs this file once more that way).
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"
cd "$WORK/cwd" || exit 1

# lisp FILE ARGS...: run FILE with the default image; session IMAGE: the
# kernel on IMAGE reading the forms of standard input.
lisp() { run_kernel_in "$WORK/cwd" "$ZORVA" -ROL "$IMAGE" "$@"; }
session() {
  local image=$1
  local t0
  t0=$(date +%s%N)
  OUT=$(timeout 60 "$ZORVA" -ROL "$image" 2>"$WORK/stderr")
  RC=$?
  MS=$((($(date +%s%N) - t0) / 1000000))
  ERR=$(cat "$WORK/stderr")
}

# --- A world saved and started again

cat >world.lsp <<'LISP'
(defun square (x) (* x x))
(defmacro twice (form) (list 'progn form form))
(defvar *counter* 41)
(defvar *mode* :global)
(defparameter *table* (make-hash-table :test 'equal))
(setf (gethash "one" *table*) 1 (gethash '(2 two) *table*) 2)
(defparameter *by-identity* (make-hash-table))
(setf (gethash 'key *by-identity*) 'value)
(defvar *next* (let ((n 10)) (lambda () (setq n (1+ n)))))
(funcall *next*)
(defstruct point x (y 0))
(defvar *point* (make-point :x 3 :y 4))
(setf (get 'square 'note) "kept on the property list")
(defvar *log* (open "log.txt" :direction :output))
(write-line "written before the save" *log*)
LISP
# Saved from inside a binding: the image keeps the global value.
printf '(let ((*mode* :bound)) (save-image "saved"))\n(format t "saved as ~A~%%" %%image-name)\n' >>world.lsp
lisp world.lsp
expect_lines "a script saves the world" 0 "saved as saved.ROL"
[ -f saved.ROL ] && pass || fail "the image file takes the type .ROL"

cat >check.lsp <<'LISP'
(format t "~S ~S ~S~%" (square 12) (let ((n 0)) (twice (incf n)) n) *counter*)
(format t "~S ~S ~S~%" (gethash "one" *table*) (gethash '(2 two) *table*) (gethash 'key *by-identity*))
(format t "~S ~S~%" (funcall *next*) (funcall *next*))
(format t "~S ~S ~S~%" *point* (point-y *point*) (point-p *point*))
(format t "~S ~S~%" *mode* (get 'square 'note))
(format t "~A~%" %image-name)
;; A stream open when the world was saved is closed in the new process,
;; also once the new process has files of its own open.
(defvar *other* (open "other.txt" :direction :output))
(format t "~S ~S~%" (open-stream-p *log*) (not (ignore-errors (write-line "lost" *log*) t)))
(close *other*)
LISP
run_in "$WORK/cwd" -ROL saved.rol check.lsp
expect_lines "definitions and values in a new process" 0 \
  "144 2 41" '1 2 VALUE' "12 13" "#S(POINT :X 3 :Y 4) 4 T" ':GLOBAL "kept on the property list"' \
  "SAVED.ROL" "NIL T"
[ "$(cat log.txt)" == "written before the save" ] && [ ! -s other.txt ] && pass ||
  fail "a saved stream writes nothing in the new process"

# Saving again over the image keeps the old one as the backup; without a
# name the image the process started from is written.
cp saved.ROL first.copy
printf '(defun marker () :second)\n(save-image)\n' >again.lsp
run_in "$WORK/cwd" -ROL saved.rol again.lsp
expect_loaded "saving to the image the process came from"
cmp -s saved.BAK first.copy && pass || fail "the old image is kept as saved.BAK"
printf '(format t "~S ~S~%%" (marker) (square 3))\n' >marker.lsp
run_in "$WORK/cwd" -ROL saved.rol marker.lsp
expect_lines "the image saved without a name has the new definition" 0 ":SECOND 9"

# --- A delivered program

cat >app.lsp <<'LISP'
(defun main (&rest args)
  (format t "arguments: ~S~%" args)
  (length args))
(defun broken (&rest args) (car args) (car 5))
(save-image "app" :toplevel 'main)
(save-image "broken" :toplevel 'broken)
LISP
lisp app.lsp
run_in "$WORK/cwd" -ROL app.rol one "two words" --help
if [ "$RC" -eq 3 ] && [ "$OUT" == 'arguments: ("one" "two words" "--help")' ]; then
  pass
else
  fail "a program image runs its function with the arguments and exits with its value"
fi
run_in "$WORK/cwd" -ROL app.rol
if [ "$RC" -eq 0 ] && [ "$OUT" == 'arguments: NIL' ]; then pass; else fail "a program image without arguments"; fi
run_in "$WORK/cwd" -ROL broken.rol x
if [ "$RC" -eq 1 ] && [[ $OUT == *Error:*5* ]] && [[ $OUT != *Break* ]]; then
  pass
else
  fail "an unhandled error in a program image exits with 1"
fi
# The world that saved the program is still interactive.
printf '(format t "~A~%%" (if %%program "program" "interactive"))\n' >which.lsp
lisp which.lsp
expect_lines "saving a program does not make the saving world one" 0 "interactive"

# --- A save that fails

# The file system refuses to let the image grow past 64 KiB: the write
# fails, the run ends with the error, and the old image is as it was with
# no backup or part of the new one left behind.
cp saved.ROL limited.rol
cp saved.ROL limited.copy
printf '(defun marker () :third)\n(save-image "limited")\n' >limited.lsp
OUT=$(bash -c 'trap "" XFSZ; ulimit -f 64; exec "$0" -ROL "$1" limited.lsp' "$ZORVA" "$IMAGE" 2>&1 </dev/null)
RC=$?
if [ "$RC" -eq 1 ] && [[ $OUT == *"limited"*"File too large"* ]]; then
  pass
else
  fail "a failing write is the I/O error naming the image"
fi
cmp -s limited.rol limited.copy && pass || fail "after a failed save the old image is intact"
[ ! -e limited.BAK ] && pass || fail "after a failed save no backup is left"

# A directory the user may not write to: the old image stays.  Root may
# write anywhere, so as root the kernel runs as nobody for this part.
as_user=()
refusing=yes
if [ "$(id -u)" -eq 0 ]; then
  refusing=no
  if command -v setpriv >/dev/null; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    chmod 755 "$WORK" "$WORK/cwd"
    "${as_user[@]}" test -r "$IMAGE" -a -x "$ZORVA" && refusing=yes
  fi
fi
if [ $refusing == yes ]; then
  mkdir -p ro
  cp saved.ROL ro/kept.rol
  chmod a-w ro
  printf '(save-image "ro/kept")\n' >ro.lsp
  OUT=$(timeout 60 "${as_user[@]}" "$ZORVA" -ROL "$IMAGE" ro.lsp </dev/null 2>"$WORK/stderr")
  RC=$?
  ERR=$(cat "$WORK/stderr")
  chmod u+w ro
  [ "$RC" -eq 1 ] && [[ $OUT == *"I/O error"*"Permission denied"* ]] && pass ||
    fail "saving into a read-only directory fails"
  cmp -s ro/kept.rol saved.ROL && [ ! -e ro/kept.BAK ] && [ "$(ls ro)" == kept.rol ] && pass ||
    fail "a read-only directory keeps the old image"
fi

# --- Loading an image into the running world

# A world whose heap outgrew the default image's areas.
printf '(defvar *big* (make-array 400000 :initial-element 7))\n(save-image "big")\n' >big.lsp
lisp big.lsp
expect_loaded "saving a world with a large heap"
head -c 100000 saved.ROL >truncated.rol
cp saved.ROL foreign.rol
# The kind of built-in 3 (the first record's byte 4 is at 5244 + 4).
printf '\x07' | dd of=foreign.rol bs=1 seek=$((5244 + 6 * 3 + 4)) conv=notrunc 2>/dev/null
: >empty.rol
session "$IMAGE" <<'LISP'
(defun square (x) (+ x x))
(defvar *here* :before)
(defvar *counter* 5)
(defmacro error-objects (form)
  `(multiple-value-call (lambda (value failure) (cdddr failure)) (%catch-error ,form)))
(format t "~S~%" (list (square 5) *here*))
(format t "failed ~S~%" (error-objects (load-image "truncated")))
(format t "failed ~S~%" (error-objects (load-image "foreign")))
(format t "failed ~S~%" (error-objects (load-image "empty")))
(format t "failed ~S~%" (error-objects (load-image "absent")))
(format t "too large ~S~%" (cdddr (error-objects (load-image "big"))))
(format t "still ~S~%" (list (square 5) *here*))
;; The binding is undone in the old world, before the new one is in place.
(let ((*counter* 7)) (load-image "saved"))
(format t "after ~S~%" (list (square 5) (boundp '*here*) *counter* *mode* (point-x *point*)))
(format t "~A~%" %image-name)
LISP
expect_lines "loading replaces the running world; bad images leave it working" 0 \
  "(10 :BEFORE)" 'failed ("truncated.ROL" "unexpected end of image file")' \
  'failed ("foreign.ROL" "built-in 3 differs")' 'failed ("empty.ROL" "unexpected end of image file")' \
  'failed ("absent.ROL")' 'too large ("big.ROL")' "still (10 :BEFORE)" "after (25 NIL 41 :GLOBAL 3)" \
  "saved.ROL"
[[ $OUT != *"Fatal"* ]] && pass || fail "no bad image ends the process"

finish
