;;; Places: SETF of the standard accessors, the update macros and
;;; user-defined places.  The subforms of a place are evaluated once, left
;;; to right, before the new value.

;; A log of evaluations, to count side effects.
(defvar *log* nil)

(defun note (tag value) (setq *log* (cons tag *log*)) value)

(defun log-of () (prog1 (reverse *log*) (setq *log* nil)))

;; Conses.  SETF returns the value stored.
(let ((x (list (list (list 1 2) 3) (list 4 5) 6 7)))
  (list (setf (caaar x) 'a) (setf (cdaar x) 'b) (setf (cadar x) 'c) (setf (cddar x) 'd)
        (setf (caadr x) 'e) (setf (cdadr x) 'f) (setf (caddr x) 'g) (setf (cdddr x) 'h)
        (setf (caar x) 'i (cdar x) 'j (cadr x) 'k (cddr x) 'l) x))
=> (A B C D E F G H L ((I . J) K . L))

(let ((x (list 1 2 3 4 5 6 7 8 9 10 11)))
  (setf (first x) 'a (second x) 'b (third x) 'c (fourth x) 'd (fifth x) 'e
        (sixth x) 'f (seventh x) 'g (eighth x) 'h (ninth x) 'i (tenth x) 'j)
  (list (setf (rest (nthcdr 9 x)) (list 'k)) (setf (nth 2 x) 'cc) (setf (nthcdr 11 x) '(z))
        x))
=> ((K Z) CC (Z) (A B CC D E F G H I J K Z))

(setf (nth 5 (list 1 2)) 3)
!! 5170 NIL

(setf (nthcdr 0 (list 1 2)) 3)
!! 5170 0

;; Sequences, arrays, strings and hash tables.
(let ((v (vector 1 2 3)) (l (list 1 2 3)) (s (copy-seq "abcdef"))
      (a (make-array '(2 3) :initial-element 0)))
  (list (setf (elt v 0) 'a) (setf (elt l 2) 'c) (setf (elt s 1) #\x)
        (setf (aref a 1 2) 'x) (setf (row-major-aref a 0) 'y) (setf (svref v 1) 'z)
        (setf (char s 0) #\j) (setf (subseq s 2 4) "XYZ") (setf (subseq l 1) '(b))
        v l s a))
=> (A C #\x X Y Z #\j "XYZ" (B) #(A Z 3) (1 B C) "jxXYef" #2A((Y 0 0) (0 0 X)))

(let ((h (make-hash-table)))
  (setf (gethash 'a h) 1)
  (incf (gethash 'a h 0) 10)
  (incf (gethash 'b h 0))
  (push 'x (gethash 'c h))
  (push 'y (gethash 'c h))
  (list (gethash 'a h) (gethash 'b h) (gethash 'c h) (hash-table-count h)))
=> (11 1 (Y X) 3)

;; Symbols: value, function, property list and properties.
(progn
  (defvar *place-var* 1)
  (list (setf (symbol-value '*place-var*) 5) *place-var*
        (progn (setf (symbol-function 'place-fn) (function (lambda (x) (* x 2))))
               (place-fn 21))
        (setf (get 'place-sym 'color) 'red) (get 'place-sym 'color)
        (incf (get 'place-sym 'count 0)) (incf (get 'place-sym 'count 0))
        (setf (symbol-plist 'place-sym) '(a 1)) (get 'place-sym 'a)))
=> (5 5 42 RED RED 1 2 (A 1) 1)

;; GETF and REMF on property lists in a variable and in a cons.
(let ((p nil))
  (setf (getf p :a) 1 (getf p :b) 2 (getf p :a) 3)
  (incf (getf p :c 10))
  (list (copy-list p) (remf p :b) (remf p :b) (remf p :c) (copy-list p) (remf p :a) p))
=> ((:C 11 :B 2 :A 3) T NIL T (:A 3) T NIL)

(let ((x (list (list :k 1))))
  (list (setf (getf (car x) :j) 2) (remf (car x) :k) (incf (getf (car x) :j)) x))
=> (2 T 3 ((:J 3)))

;; Bytes, VALUES, THE, and a macro standing for a place.
(let ((n #x1234) (v (vector 0)) (a 0) (x (list 0)))
  (setf (ldb (byte 4 8) n) 15)
  (incf (ldb (byte 4 0) (svref v 0)) 3)
  (setf (mask-field (byte 4 0) n) #xFFA)
  (list n v (multiple-value-call (function list) (setf (values a (car x)) (floor 7 2))) a
        (copy-list x) (incf (the integer (car x)) 4)))
=> (7994 #(3) (3 1) 3 (1) 5)

(defmacro my-head (x) (list 'car x))

(let ((l (list 1 2)))
  (incf (my-head l) 10)
  l)
=> (11 2)

(setf (no-such-accessor 1) 2)
!! 4160 (NO-SUCH-ACCESSOR 1)

;;; The update macros

(let ((x 5) (l nil))
  (list (incf x) (incf x 10) (decf x) (decf x 3) x
        (push 1 l) (push 2 l) (pop l) l (pop l) (pop l) l))
=> (6 16 15 12 12 (1) (2 1) 2 (1) 1 NIL NIL)

;; On variables they are plain assignments; variables in a place are used
;; as they stand when nothing evaluated later can change them.
(list (macroexpand-1 '(incf x)) (macroexpand-1 '(decf x 2)) (macroexpand-1 '(push a x))
      (macroexpand-1 '(pop x)) (macroexpand-1 '(setf (car x) 1))
      (macroexpand-1 '(incf (aref v i))) (macroexpand-1 '(push a (gethash k h))))
=> ((SETQ X (+ X 1)) (SETQ X (- X 2)) (SETQ X (CONS A X)) (PROG1 (CAR X) (SETQ X (CDR X)))
=>  (CAR (RPLACA X 1)) (%ASET V (+ (AREF V I) 1) I) (%PUTHASH K H (CONS A (GETHASH K H))))

;; Each subform of a place is evaluated once, left to right, before the
;; new value: also by SETF, for arguments that are calls.
(let ((v (vector 10 20 30)) (x (list (list 1 2))) (h (make-hash-table)) (keys (list 'k1 'k2)))
  (incf (aref (note 'v v) (note 'i 1)) (note 'delta 5))
  (push (note 'item 'a) (car (note 'x x)))
  (pop (cdr (note 'pop x)))
  (setf (aref (note 'v2 v) (note 'i2 0)) (note 'new 0))
  (setf (gethash (pop keys) h) (pop keys))
  (list v x (log-of) (gethash 'k1 h)))
=> (#(0 25 30) ((A 1 2)) (V I DELTA ITEM X POP V2 I2 NEW) K2)

;; A delta that assigns a variable of the place: the place is still the
;; one named before the delta ran.
(let ((v (vector 0 0 0)) (i 0))
  (incf (aref v i) (progn (setq i 2) 5))
  (list v i))
=> (#(5 0 0) 2)

(let ((l (list 1 2 3)) (n 0) (x (list (list 1 2))))
  (list (pushnew 2 l) (pushnew 4 l) (pushnew 2.0 l :test (function =))
        (pushnew '(a) l :test (function equal)) (pushnew '(a) l :test (function equal))
        (pushnew (progn (setq n (+ n 1)) 3) (car (progn (setq n (+ n 10)) x))) n))
=> ((1 2 3) (4 1 2 3) (4 1 2 3) ((A) 4 1 2 3) ((A) 4 1 2 3) (3 1 2) 11)

;; ROTATEF, SHIFTF and PSETF read every value before storing any.
(let ((a 1) (b 2) (c 3))
  (list (rotatef a b c) a b c (shiftf a b c 9) a b c (rotatef) (rotatef a) a))
=> (NIL 2 3 1 2 3 1 9 NIL NIL 3)

(let ((v (vector 1 2 3 4)) (i 0) (x (list 1 2)) (a 5))
  (rotatef (aref v (note 'i i)) (aref v (note 'j 3)))
  (list (copy-seq v) (shiftf (aref v 1) (aref v 2) 'new) v (log-of)
        (shiftf (car x) a (cadr x) 'z) x a))
=> (#(4 2 3 1) 2 #(4 3 NEW 1) (I J) 1 (5 Z) 2)

(let ((a 1) (b 2) (x (list 3 4)))
  (list (psetf a b b a) a b (psetf (car x) (cadr x) (cadr x) (car x)) (copy-list x)
        (psetf a (car x) (car x) a) a x))
=> (NIL 2 1 NIL (4 3) NIL 4 (2 3))

;; Storing into a variable place first must not move a later place.
(let ((v (vector 'a 'b 'c)) (i 0))
  (rotatef i (aref v i))
  (list i v))
=> (A #(0 B C))

;;; User-defined places

(defun box-value (b) (svref b 0))

(defun set-box-value (b v) (setf (svref b 0) v))

(defsetf box-value set-box-value)

(defun box-ref (b i) (svref b i))

(defsetf box-ref (b i) (new) (list 'setf (list 'svref b i) new))

(define-modify-macro appendf (&rest lists) append)

(define-modify-macro scalef (&optional (factor 2)) *)

(let ((b (vector 1 nil)))
  (list (setf (box-value b) 5) (incf (box-value b)) (push 'x (box-ref b 1))
        (appendf (box-ref (note 'b b) (note 'i 1)) (note 'l1 '(1)) (note 'l2 '(2)))
        (scalef (box-value b)) (scalef (box-value b) 10) b (log-of)))
=> (5 6 (X) (X 1 2) 12 120 #(120 (X 1 2)) (B I L1 L2))

(define-setf-expander pair-sum (x)
  (let ((c (gensym)) (store (gensym)))
    (values (list c) (list x) (list store)
            (list 'progn (list 'setf (list 'car c) (list '- store (list 'cdr c))) store)
            (list '+ (list 'car c) (list 'cdr c)))))

(let ((p (cons 1 2)))
  (list (setf (pair-sum p) 10) (copy-list p) (incf (pair-sum (note 'p p)) 5) p (log-of)))
=> (10 (8 . 2) 15 (13 . 2) (P))

;; GET-SETF-EXPANSION takes an environment and gives a temporary to every
;; subform that is not a constant.
(list (multiple-value-call (function list) (get-setf-expansion 'x nil))
      (multiple-value-bind (temps vals stores store access) (get-setf-expansion '(aref v (f) 2))
        (list (length temps) vals stores (car store) (car access) (nth 3 access))))
=> ((NIL NIL (%STORE) (SETQ X %STORE) X) (2 (V (F)) (%STORE) %ASET AREF 2))

(let ((l nil) (n 0))
  (dotimes (i 100000) (push i l))
  (loop (when (null l) (return n)) (incf n (pop l))))
=> 4999950000
