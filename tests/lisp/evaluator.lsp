;;; The evaluator: binding and scoping, closures, control, lambda lists,
;;; macros, errors, multiple values, equality and types.

;; Nested lexical bindings: the innermost wins, the outer comes back.
(let ((x 1)) (list (let ((x 2)) x) x))
=> (2 1)

;; A special variable is seen by called functions and restored afterwards.
(defvar *level* 0)

(defun level () *level*)

(list (let ((*level* 5)) (level)) (level))
=> (5 0)

;; Closures share a variable with the frame that made them, after assignment too.
(defun make-counter ()
  (let ((n 0))
    (list (function (lambda () (setq n (+ n 1))))
          (function (lambda () n)))))

(let ((c (make-counter)))
  (funcall (car c)) (funcall (car c))
  (funcall (cadr c)))
=> 2

;; A cached lexical reference never reaches a caller's binding of the same name.
(defun rest-first (x &rest r) x)

(list (rest-first 1 2 3) (let ((x 'outer)) (rest-first 'inner)))
=> (1 INNER)

(defun set-rest-first (x &rest r) (setq x 'changed) x)

(let ((x 'outer)) (list (set-rest-first 1 2 3) (set-rest-first 'inner) x))
=> (CHANGED CHANGED OUTER)

;; Lambda lists: optional with defaults and supplied-p, rest, keys, aux.
(defun ll (a &optional (b 2 b-p) &rest r &key (c 3) d &allow-other-keys &aux (e (+ a 10)))
  (list a b b-p r c d e))

(ll 1)
=> (1 2 NIL NIL 3 NIL 11)

(ll 1 5 :d 4 :c 7 :z 0)
=> (1 5 T (:D 4 :C 7 :Z 0) 7 4 11)

;; The second call through the annotated lambda list binds the same way.
(ll 1)
=> (1 2 NIL NIL 3 NIL 11)

;; Control: every exit form, cleanup exactly once, the innermost catch wins.
(block b (return-from b 1) 2)
=> 1

(catch 'x (catch 'x (throw 'x 1)) 2)
=> 2

(let ((n 0))
  (catch 'done (unwind-protect (throw 'done 1) (setq n (+ n 1))))
  n)
=> 1

(let ((i 0))
  (tagbody
   top
     (setq i (+ i 1))
     (if (< i 5) (go top)))
  i)
=> 5

(multiple-value-call (function list) (catch 'v (unwind-protect (throw 'v (values 1 2)) nil)))
=> (1 2)

(dolist (x '(1 2 3) 'done) x)
=> DONE

(let ((s 0)) (dotimes (i 4 s) (setq s (+ s i))))
=> 6

(mapcar (function +) '(1 2 3) '(10 20 30))
=> (11 22 33)

;; LABELS is restored after a throw out of its body.
(defun outer-f () 'global)

(list (catch 'out (labels ((outer-f () (throw 'out 'local))) (outer-f))) (outer-f))
=> (LOCAL GLOBAL)

;; Macros: expansion once per call site, atom expansions, MACROEXPAND values.
(defvar *expansions* 0)

(defmacro counted (x) (setq *expansions* (+ *expansions* 1)) x)

(defun use-counted () (counted 42))

(list (use-counted) (use-counted) *expansions*)
=> (42 42 1)

(defmacro seven () 7)

(seven)
=> 7

(multiple-value-call (function list) (macroexpand-1 '(seven)))
=> (7 T)

(multiple-value-call (function list) (macroexpand '(car x)))
=> ((CAR X) NIL)

;; Errors: the code and the objects; error catching returns NIL and the list.
(car 5)
!! 5170 5

undefined-variable-here
!! 0x1430 UNDEFINED-VARIABLE-HERE

(undefined-function-here 1)
!! 0x1431 UNDEFINED-FUNCTION-HERE

;; Multiple values.
(multiple-value-call (function list) (values 1 2) (values) (values 3))
=> (1 2 3)

(multiple-value-bind (a b c) (values 1 2) (list a b c))
=> (1 2 NIL)

(multiple-value-call (function list) (multiple-value-prog1 (values 1 2) (values 3 4)))
=> (1 2)

;; Equality.
(list (eq 'a 'a) (eql 1.0 1.0) (eq 1.0 1.0) (eql 1 1.0) (equal "ab" "ab") (equal "ab" "AB")
      (equalp "ab" "AB") (equalp 1 1.0) (equal '(1 (2 #\a)) '(1 (2 #\a))))
=> (T T NIL NIL T NIL T T T)

(let ((a nil) (b nil))
  (dotimes (i 100000) (setq a (cons i a)) (setq b (cons i b)))
  (equal a b))
=> T

;; Types.
(list (type-of 1) (type-of 'a) (type-of "s") (type-of '(1)) (type-of nil) (type-of 1.5)
      (type-of (make-hash-table)))
=> (FIXNUM SYMBOL STRING CONS NULL FLOAT HASH-TABLE)

(list (typep 1 'integer) (typep 1 '(integer 0 5)) (typep 9 '(integer 0 5))
      (typep "a" 'string) (typep 'a '(or string symbol)) (typep 1 '(member 1 2)))
=> (T T NIL T T T)

(multiple-value-call (function list) (subtypep nil 'integer))
=> (T T)

(multiple-value-call (function list) (%subtypep '(integer 0 5) 'integer))
=> (NIL NIL)

;; The library's SUBTYPEP knows ranges.
(multiple-value-call (function list) (subtypep '(integer 0 5) 'integer))
=> (T T)

;; RETURN-FROM the function's own name, past a documentation string and
;; declarations; functions that don't need the block don't get one.
(defun first-negative (l)
  "The first negative element of L, or NIL."
  (declare (list l))
  (dolist (x l) (when (minusp x) (return-from first-negative x)))
  nil)
=> FIRST-NEGATIVE

(list (first-negative '(1 -2 3 -4)) (first-negative '(1 2)))
=> (-2 NIL)

(defun plain-twice (x) (* 2 x))
=> PLAIN-TWICE

(symbol-function 'plain-twice)
=> (LAMBDA (X) (* 2 X))

;; The default image has room for deep recursion.
(defun depth (n) (if (= n 0) 0 (+ 1 (depth (- n 1)))))
=> DEPTH

(depth 5000)
=> 5000
