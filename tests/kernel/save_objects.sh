# The object system in a saved world: classes, generic functions with
# their methods and warmed dispatch caches, instances, hash tables keyed by
# instances and closures over them come back in a new process, where the
# classes can be redefined and the generic functions take new methods.
# The world is saved a second time from the reloaded one and started again.
#
# With ZORVA_GC_STRESS set in the environment every run collects under
# stress too (CI runs this file once more that way).
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/cwd"
cd "$WORK/cwd" || exit 1

printf '(format t "~A" (if (fboundp (quote define-condition)) "yes" "no"))\n' >probe.lsp
has_conditions=$("$ZORVA" -ROL "$IMAGE" probe.lsp)

cat >world.lsp <<'LISP'
(defclass shape () ((name :initarg :name :accessor shape-name)))
(defclass circle (shape) ((radius :initarg :radius :accessor radius)))
(defclass square (shape) ((side :initarg :side :accessor side)))
(defclass tally () ((count :allocation :class :initform 0 :accessor tally-count)))
(defgeneric area (shape))
(defmethod area ((c circle)) (* 3 (radius c) (radius c)))
(defmethod area ((s square)) (* (side s) (side s)))
(defgeneric label (thing))
(defmethod label ((s shape)) (list :shape (shape-name s)))
(defmethod label :around ((c circle)) (cons :round (call-next-method)))
(defmethod label ((x (eql :origin))) :the-origin)
(defmethod label ((n integer)) (list :number n))
(defmethod label :before ((s square)) (incf (tally-count *tally*)))
(defvar *tally* (make-instance 'tally))
(defvar *shapes* (list (make-instance 'circle :name "c" :radius 2)
                       (make-instance 'square :name "s" :side 3)))
;; Every method called once, so the dispatch caches are full when saved.
(dolist (s *shapes*) (area s) (label s))
(label :origin)
(label 5)
(defvar *names* (make-hash-table))
(defvar *by-equal* (make-hash-table :test 'equal))
(dolist (s *shapes*)
  (setf (gethash s *names*) (shape-name s)
        (gethash (list s) *by-equal*) (area s)))
(defvar *scaled* (let ((k 10) (seen '()))
                   (lambda (s) (push s seen) (list (* k (area s)) (length seen)))))
(funcall *scaled* (second *shapes*))
LISP
if [ "$has_conditions" == yes ]; then
  cat >>world.lsp <<'LISP'
(define-condition bad-shape (error)
  ((shape :initarg :shape :reader bad-shape-shape))
  (:report (lambda (c s) (format s "no area for ~A" (shape-name (bad-shape-shape c))))))
(defmethod area ((s shape)) (error 'bad-shape :shape s))
LISP
fi
printf '(save-image "objects")\n' >>world.lsp
run_in "$WORK/cwd" -ROL "$IMAGE" world.lsp
expect_loaded "a world with classes, methods and instances is saved"

# What the saved world must still do, then changes made to it: a method
# added to a generic function whose cache was saved full, a class
# redefined with instances already in the hash tables, a new subclass.
cat >check.lsp <<'LISP'
(format t "~S~%" (mapcar #'area *shapes*))
(format t "~S~%" (mapcar #'label (append *shapes* (list :origin 7))))
(format t "~S ~S~%" (tally-count *tally*) (tally-count (make-instance 'tally)))
(format t "~S ~S~%" (mapcar (lambda (s) (gethash s *names*)) *shapes*)
        (gethash (make-instance 'circle :name "c" :radius 2) *names*))
(format t "~S~%" (mapcar (lambda (s) (gethash (list s) *by-equal*)) *shapes*))
(format t "~S~%" (funcall *scaled* (first *shapes*)))
(format t "~S ~S ~S~%" (eq (class-of (first *shapes*)) (find-class 'circle))
        (typep (first *shapes*) 'shape)
        (mapcar #'class-name (class-precedence-list (find-class 'circle))))
(format t "~S~%" (area (make-instance 'square :name "new" :side 5)))
(defmethod area ((n integer)) n)
(defmethod label :around ((s square)) (list :squared (call-next-method)))
(format t "~S ~S~%" (area 4) (label (second *shapes*)))
(defclass circle (shape)
  ((radius :initarg :radius :accessor radius)
   (colour :initarg :colour :initform :red :accessor colour)))
(defclass ring (circle) ((hole :initarg :hole :initform 1 :reader hole)))
(defmethod area ((r ring)) (- (call-next-method) (* 3 (hole r) (hole r))))
(let ((c (first *shapes*)))
  (format t "~S ~S ~S ~S~%" (colour c) (radius c) (area c) (gethash c *names*)))
(format t "~S ~S~%" (area (make-instance 'ring :name "r" :radius 3))
        (label (make-instance 'ring :name "r" :radius 3)))
(push (make-instance 'ring :name "r" :radius 2 :hole 1) *shapes*)
(setf (gethash (first *shapes*) *names*) "r")
LISP
if [ "$has_conditions" == yes ]; then
  cat >>check.lsp <<'LISP'
(format t "~A~%" (handler-case (area (make-instance 'shape :name "blob"))
                   (bad-shape (c) (format nil "caught: ~A" c))))
LISP
fi
printf '(save-image "again")\n' >>check.lsp

run_in "$WORK/cwd" -ROL objects.rol check.lsp
expect_lines "the object system in a new process" 0 \
  "(12 9)" '((:ROUND :SHAPE "c") (:SHAPE "s") :THE-ORIGIN (:NUMBER 7))' "2 2" \
  '("c" "s") NIL' "(12 9)" "(120 2)" "T T (CIRCLE SHAPE STANDARD-OBJECT T)" "25" \
  '4 (:SQUARED (:SHAPE "s"))' ':RED 2 12 "c"' '24 (:ROUND :SHAPE "r")'
if [ "$has_conditions" == yes ]; then
  expect_lines "a condition class in a new process" 0 "caught: no area for blob"
fi

# The world saved from the reloaded one, with the changes made there.
cat >second.lsp <<'LISP'
(format t "~S~%" (mapcar #'area *shapes*))
(format t "~S~%" (mapcar (lambda (s) (gethash s *names*)) *shapes*))
(format t "~S ~S~%" (colour (second *shapes*)) (label (third *shapes*)))
(format t "~S~%" (funcall *scaled* (third *shapes*)))
LISP
run_in "$WORK/cwd" -ROL again.rol second.lsp
expect_lines "a world saved again after the changes" 0 \
  "(9 12 9)" '("r" "c" "s")' ':RED (:SQUARED (:SHAPE "s"))' "(90 3)"

finish
