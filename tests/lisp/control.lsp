;;; Control and declaration operators: declarations, local functions and
;;; macros, PROG, type and key dispatch, destructuring, catching errors,
;;; assertions, DEFPARAMETER.

;; The message of the error a form signals.
(defmacro error-text (form)
  `(handler-case ,form (error (e) (format nil "~A" e))))

;; ---------------------------------------------------------------------
;; SPECIAL declarations: a called function sees the binding, and it is
;; undone afterwards.  Other bindings of the name stay lexical.

(defun peek-depth () sp-depth)

(defun with-depth (sp-depth) (declare (special sp-depth)) (peek-depth))

(defun keeps-depth (sp-depth) (lambda () sp-depth))

(list (with-depth 3) (with-depth 4) (boundp 'sp-depth) (funcall (keeps-depth 5)))
=> (3 4 NIL 5)

(let ((sp-depth 6)) (peek-depth))
!! 0x1430 SP-DEPTH

(defun peek-level () sp-level)

(let ((sp-level 7) (other 1)) (declare (special sp-level)) (list (peek-level) other))
=> (7 1)

(let* ((a 1) (sp-b (+ a 1))) (declare (fixnum a) (special sp-b)) (defun peek-b () sp-b) (peek-b))
=> 2

;; After a documentation string, with optional and key parameters.
(defun peek-opt () (list sp-opt sp-key))

(defun with-opt (&optional (sp-opt 1) &key (sp-key 2))
  "Doc."
  (declare (special sp-opt sp-key))
  (peek-opt))

(list (with-opt) (with-opt 5 :sp-key 6))
=> ((1 2) (5 6))

;; DO, MULTIPLE-VALUE-BIND, DOLIST, and the body of a local function.
(defun peek-i () sp-i)

(do ((sp-i 0 (+ sp-i 1)) (seen nil (cons (peek-i) seen))) ((= sp-i 3) seen) (declare (special sp-i)))
=> (2 1 0)

(defun peek-mv () sp-mv)

(multiple-value-bind (mv1 sp-mv) (values 1 2) (declare (special sp-mv)) (list mv1 (peek-mv)))
=> (1 2)

(defun peek-elt () sp-elt)

(let ((r nil)) (dolist (sp-elt '(a b) r) (declare (special sp-elt)) (setq r (cons (peek-elt) r))))
=> (B A)

(defun peek-x () sp-x)

(flet ((local (sp-x) (declare (special sp-x)) (peek-x)))
  (list (local 1) (local 2)))
=> (1 2)

;; PROCLAIM and DECLAIM.
(proclaim '(special *proclaimed*))

(defun peek-proclaimed () *proclaimed*)

(let ((*proclaimed* 'dynamic)) (peek-proclaimed))
=> DYNAMIC

(declaim (special *declaimed*) (optimize speed) (inline peek-proclaimed))
=> NIL

(defun peek-declaimed () *declaimed*)

(let ((*declaimed* 'seen)) (peek-declaimed))
=> SEEN

(locally (declare (special *declaimed*)) (setq *declaimed* 'global) (peek-declaimed))
=> GLOBAL

;; DEFPARAMETER stores every time and makes the variable special.
(defparameter *param* 1 "A parameter.")
=> *PARAM*

(defparameter *param* 2)
=> *PARAM*

(defun peek-param () *param*)

(list (let ((*param* 3)) (peek-param)) *param*)
=> (3 2)

;; ---------------------------------------------------------------------
;; EVAL-WHEN, COMPILE, COMPILE-FILE

(list (eval-when (:execute) 1) (eval-when (:compile-toplevel) 2) (eval-when (compile load eval) 3))
=> (1 NIL 3)

(funcall (compile nil '(lambda (x) (* x x))) 7)
=> 49

(defun square (x) (* x x))

(compile 'square)
=> SQUARE NIL NIL

(progn (compile 'cube '(lambda (x) (* x x x))) (cube 3))
=> 27

(error-text (compile 'no-such-function-here))
=> "COMPILE: NO-SUCH-FUNCTION-HERE has no function definition"

(let ((s (open "comp.lsp" :direction :output)))
  (format s "(defun compiled-one () 'loaded)~%")
  (close s)
  (load (compile-file "comp"))
  (compiled-one))
=> LOADED

(error-text (compile-file "missing-source"))
=> "COMPILE-FILE: the file missing-source.LSP does not exist"

;; ---------------------------------------------------------------------
;; FLET and LABELS: closures over the surrounding variables.

(let ((base 10))
  (flet ((add (x) (+ x base))
         (twice (f x) (funcall f (funcall f x))))
    (list (add 1) (twice #'add 0) (mapcar #'add '(1 2)))))
=> (11 20 (11 12))

;; FLET does not see its own definitions; LABELS does.
(defun outer-name (x) (list 'global x))

(flet ((outer-name (x) (if (> x 0) (outer-name (- x 1)) 'local)))
  (outer-name 2))
=> (GLOBAL 1)

(labels ((outer-name (x) (if (> x 0) (outer-name (- x 1)) 'local)))
  (outer-name 2))
=> LOCAL

(outer-name 5)
=> (GLOBAL 5)

;; Mutual recursion, assignment of a captured variable, a returned closure.
(defun count-down (n)
  (let ((steps 0))
    (labels ((ev (k) (setq steps (+ steps 1)) (if (= k 0) t (od (- k 1))))
             (od (k) (setq steps (+ steps 1)) (if (= k 0) nil (ev (- k 1)))))
      (list (ev n) steps))))

(list (count-down 4) (count-down 3))
=> ((T 5) (NIL 4))

(defun make-adder (n) (labels ((adder (x) (+ x n))) #'adder))

(list (funcall (make-adder 3) 4) (funcall (make-adder 10) 4))
=> (7 14)

;; Local functions are not seen by other functions, and a global function
;; of the same name stays itself inside.
(defun calls-outer-name () (outer-name 0))

(flet ((outer-name (x) x)) (list (outer-name 1) (calls-outer-name)))
=> (1 (GLOBAL 0))

;; RETURN-FROM the function's name, declarations, documentation, keys.
(labels ((find-even (list)
           "The first even element."
           (declare (type list list))
           (dolist (x list) (when (evenp x) (return-from find-even x)))
           'none)
         (opts (a &optional (b (* a 2)) &key (c 0)) (list a b c)))
  (declare (optimize speed))
  (list (find-even '(1 3 4 5)) (find-even '(1)) (opts 1) (opts 1 5 :c 9)))
=> (4 NONE (1 2 0) (1 5 9))

;; Calls inside other forms and macros are found; quoted lists are data.
(flet ((f (x) (* x 10)))
  (list (f 1) '(f 2) (when t (f 3)) (cond ((f 4))) (case 1 (1 (f 5)))
        (let ((f 6)) (f f)) (do ((i 0 (+ i 1)) (r nil (cons (f i) r))) ((= i 2) r))))
=> (10 (F 2) 30 40 50 60 (10 0))

;; A nested FLET's definitions see the outer one.
(flet ((f () 'outer))
  (flet ((f () (list 'inner (f))))
    (f)))
=> (INNER OUTER)

(labels () 1)
=> 1

(flet ((f () 1)))
=> NIL

;; ---------------------------------------------------------------------
;; MACROLET and SYMBOL-MACROLET

(macrolet ((twice (form) `(list ,form ,form))
           (swap-args ((a b)) `(list ',b ',a)))
  (list (twice 1) (swap-args (x y)) (let ((n 2)) (twice n))))
=> ((1 1) (Y X) (2 2))

;; The local macro is expanded everywhere in the body, also in branches
;; that have not run yet.
(defun uses-local-macro (flag)
  (macrolet ((pick () ''local))
    (if flag (pick) 'other)))

(list (uses-local-macro nil) (uses-local-macro t))
=> (OTHER LOCAL)

(let ((pair (list 1 2)))
  (symbol-macrolet ((head (car pair)) (tail (cadr pair)))
    (list head tail (let ((head 'bound)) head) '(head))))
=> (1 2 BOUND (HEAD))

(let ((x 0) (y 0))
  (symbol-macrolet ((value x) (other value))
    (setq value 5)
    (setf other (+ other 1))
    (list value x y)))
=> (6 6 0)

(let ((cell (list 0)))
  (symbol-macrolet ((value (car cell)))
    (setq value 5)
    (incf value)
    (list value cell)))
=> (6 (6))

(flet ((f (x) (* x 10)))
  (loop for i in '(1 2 3) collect (f i)))
=> (10 20 30)

;; ---------------------------------------------------------------------
;; PROG and PROG*

(prog ((i 0) (acc nil))
 again
  (when (< i 3) (setq acc (cons i acc) i (+ i 1)) (go again))
  (return acc))
=> (2 1 0)

(prog* ((a 2) (b (* a 3))) (return (list a b)))
=> (2 6)

(prog () 'no-return)
=> NIL

;; ---------------------------------------------------------------------
;; TYPECASE and the exhaustive dispatches

(mapcar (lambda (x) (typecase x (integer 'int) (string 'str) ((or symbol cons) 'sym-or-cons) (t 'other)))
        (list 1 "a" 'b '(c) 2.5))
=> (INT STR SYM-OR-CONS SYM-OR-CONS OTHER)

(typecase 1.5 (integer 'int))
=> NIL

(etypecase 'x (integer 1) (symbol 2))
=> 2

(error-text (etypecase 2.5 (integer 1) (symbol 2)))
=> "2.5 fell through ETYPECASE expression; wanted one of (INTEGER SYMBOL)"

(let ((n 0)) (ctypecase (setq n (+ n 1)) (integer n)))
=> 1

(list (ecase 'b (a 1) ((b c) 2)) (ecase t ((t) 'tee)) (ccase 3 (3 'three)))
=> (2 TEE THREE)

;; NIL as a key designator is an empty list of keys.
(ecase nil (nil 'never) ((nil) 'empty-list))
=> EMPTY-LIST

(error-text (ccase 'z (a 1) ((b c) 2)))
=> "Z fell through CCASE expression; wanted one of (A B C)"

;; ---------------------------------------------------------------------
;; Multiple values

(multiple-value-list (floor 7 2))
=> (3 1)

(list (multiple-value-list (values)) (nth-value 1 (values 'a 'b 'c)) (nth-value 5 (values 1)))
=> (NIL B NIL)

;; ---------------------------------------------------------------------
;; DESTRUCTURING-BIND

(destructuring-bind (a (b c) &optional (d 'dd d-p) &rest r) '(1 (2 3) 4 5 6)
  (list a b c d d-p r))
=> (1 2 3 4 T (5 6))

(destructuring-bind (a &optional (b (list a 'default) b-p) ((c1 c2) '(7 8))) '(1)
  (list a b b-p c1 c2))
=> (1 (1 DEFAULT) NIL 7 8)

(destructuring-bind (&whole w x &key (y 10) ((:zed z) 'zz z-p) &allow-other-keys) '(1 :zed 3 :other 4)
  (list w x y z z-p))
=> ((1 :ZED 3 :OTHER 4) 1 10 3 T)

(destructuring-bind (a . b) '(1 2 3) (list a b))
=> (1 (2 3))

(destructuring-bind ((a . b) (c (d e))) '((1 . 2) (3 (4 5))) (list a b c d e))
=> (1 2 3 4 5)

(destructuring-bind (x &body body &aux (n (length body))) '(if a b) (list x body n))
=> (IF (A B) 2)

(destructuring-bind (&key a) '(:a 1 :b 2 :allow-other-keys t) a)
=> 1

(defun peek-db () sp-db)

(destructuring-bind (n (sp-db)) '(1 (2)) (declare (special sp-db)) (list n (peek-db)))
=> (1 2)

(error-text (destructuring-bind (a b) '(1) (list a b)))
=> "DESTRUCTURING-BIND: (1) does not match (A B): too few elements"

(error-text (destructuring-bind (a) '(1 2) a))
=> "DESTRUCTURING-BIND: (1 2) does not match (A): too many elements"

(error-text (destructuring-bind (a (b)) '(1 (2 3)) (list a b)))
=> "DESTRUCTURING-BIND: (1 (2 3)) does not match (A (B)): too many elements"

(error-text (destructuring-bind (a (b)) '(1 2) (list a b)))
=> "DESTRUCTURING-BIND: (1 2) does not match (A (B)): too few elements"

(error-text (destructuring-bind (&key a) '(:a 1 :b 2) a))
=> "DESTRUCTURING-BIND: (:A 1 :B 2) does not match (&KEY A): unknown keyword :B"

(error-text (destructuring-bind (&key a) '(:a) a))
=> "DESTRUCTURING-BIND: (:A) does not match (&KEY A): odd number of keyword arguments"

;; ---------------------------------------------------------------------
;; IGNORE-ERRORS and HANDLER-CASE

(ignore-errors (values 1 2 3))
=> 1 2 3

(multiple-value-bind (value condition) (ignore-errors (car 5))
  (list value (not (null condition))))
=> (NIL T)

(multiple-value-bind (value condition) (ignore-errors (error "Bad ~A: ~S" "thing" 42))
  (list value (format nil "~A" condition)))
=> (NIL "Bad thing: 42")

(handler-case (error "Value ~D is too big" 100)
  (error (e) (format nil "caught: ~A" e)))
=> "caught: Value 100 is too big"

(handler-case (car 'not-a-list) (simple-error () 'simple) (type-error () 'typed))
=> TYPED

(handler-case (undefined-function-in-test 1) (condition (c) (not (null c))))
=> T

(handler-case (+ 1 nil) (t () 'anything))
=> ANYTHING

(handler-case (values 1 2) (error () 'no))
=> 1 2

(handler-case (values 1 2) (error () 'no) (:no-error (a b) (list 'fine a b)))
=> (FINE 1 2)

;; Only the first matching clause runs; a clause for a condition type the
;; caught errors never have is passed over.
(handler-case (error "x") (warning () 'warned) (error () 'first) (condition () 'second))
=> FIRST

;; Without a matching clause the error goes on, with its own message.
(handler-case (handler-case (error "Inner ~A" 1) (warning () 'warned))
  (error (e) (format nil "outer saw: ~A" e)))
=> "outer saw: Inner 1"

(error-text (handler-case (error "Plain ~S" 'text) (type-error () 'typed)))
=> "Plain TEXT"

;; A kernel error passes on with its code and objects.
(handler-case (car 'not-a-list) (warning () 'warned))
!! 0x1432 NOT-A-LIST

;; Handlers see their lexical variables; declarations are allowed.
(let ((where 'here))
  (handler-case (error "x") (error (e) (declare (ignore e)) where)))
=> HERE

;; Nested: an error inside a handler is caught by the outer form.
(handler-case (handler-case (error "one") (error () (error "two")))
  (error (e) (format nil "~A" e)))
=> "two"

;; ---------------------------------------------------------------------
;; ASSERT and CHECK-TYPE

(let ((x 3)) (assert (> x 2)) 'ok)
=> OK

(error-text (let ((x 1)) (assert (> x 2))))
=> "The assertion (> X 2) failed."

(error-text (let ((x 1)) (assert (> x 2) (x) "X is ~D, too small" x)))
=> "X is 1, too small"

(let ((n 5)) (check-type n integer) n)
=> 5

(multiple-value-bind (v c) (ignore-errors (let ((n "five")) (check-type n integer)))
  (list v (format nil "~A" c)))
=> (NIL "The value of N is \"five\", which is not of type INTEGER.")

(multiple-value-bind (v c) (ignore-errors (let ((n 'x)) (check-type n (integer 0 9) "a digit")))
  (list v (format nil "~A" c)))
=> (NIL "The value of N is X, which is not a digit.")

;; ---------------------------------------------------------------------
;; IDENTITY, CONSTANTLY, COMPLEMENT

(list (identity 'x) (funcall (constantly 7) 1 2 3) (funcall (constantly 8))
      (mapcar (complement #'numberp) '(1 a 2.5 "s")))
=> (X 7 8 (NIL T NIL T))
