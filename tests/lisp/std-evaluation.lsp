;;; Evaluation and compilation: function names and setf functions,
;;; FUNCTION-LAMBDA-EXPRESSION, macro functions and *MACROEXPAND-HOOK*,
;;; compiler macros, LOAD-TIME-VALUE, and the limits of calls.

;; FDEFINITION reads and sets the function of a name.
(progn
  (setf (fdefinition 'std-double) (lambda (x) (* 2 x)))
  (list (std-double 4) (funcall (fdefinition 'std-double) 5) (fboundp 'std-double)
        (eq (fdefinition 'car) (symbol-function 'car))))
=> (8 10 T T)

(fdefinition "car")
!! 5170 "car"

;; A function named (SETF name), defined by DEFUN, is what SETF calls:
;; the arguments first, then the new value.
(progn
  (defun std-first-of (cell) (car cell))
  (defun (setf std-first-of) (new cell) (rplaca cell new) new)
  (let ((c (list 1 2)) (order nil))
    (list (setf (std-first-of (progn (push 'place order) c)) (progn (push 'value order) 9))
          (copy-list c) (reverse order) (fboundp '(setf std-first-of))
          (funcall (fdefinition '(setf std-first-of)) 7 c) (copy-list c)
          (incf (std-first-of c)) c)))
=> (9 (9 2) (PLACE VALUE) T 7 (7 2) 8 (8 2))

(progn (fmakunbound '(setf std-first-of))
       (list (fboundp '(setf std-first-of))
             (nth-value 1 (%catch-error (funcall (fdefinition '(setf std-first-of)) 1 (list 2))))))
=> (NIL ("~&~V@(Error: ~@?~)" 116 "The function ~S is undefined" (SETF STD-FIRST-OF)))

;; FUNCTION-LAMBDA-EXPRESSION: the lambda of an interpreted function, and
;; whether it closes over variables; nothing for a built-in.
(list (function-lambda-expression (lambda (x) (+ x 1)))
      (multiple-value-list (function-lambda-expression (let ((y 2)) (lambda (x) (+ x y)))))
      (multiple-value-list (function-lambda-expression #'car)))
=> ((LAMBDA (X) (+ X 1)) ((LAMBDA (X) (+ X Y)) T NIL) (NIL T NIL))

;; A macro function is a function of the form and the environment; SETF
;; of it makes a macro.
(progn
  (setf (macro-function 'std-swap-args) (lambda (form env) (list (second form) (fourth form) (third form))))
  (list (funcall (macro-function 'when) '(when a b) nil)
        (eq (macro-function 'when) (macro-function 'when))
        (std-swap-args - 1 10)
        (macro-function 'car)))
=> ((IF A (PROGN B)) T 9 NIL)

;; *MACROEXPAND-HOOK* sees every expansion MACROEXPAND makes.
(let ((seen nil))
  (let ((*macroexpand-hook* (lambda (expander form env)
                              (push (car form) seen)
                              (funcall expander form env))))
    (list (macroexpand '(unless a b)) (macroexpand-1 '(car x)) seen)))
=> ((IF A NIL (PROGN B)) (CAR X) (UNLESS))

;; Compiler macros are recorded and can be called; the function stays.
(progn
  (defun std-square (x) (* x x))
  (define-compiler-macro std-square (&whole form x)
    (if (numberp x) (* x x) form))
  (list (funcall (compiler-macro-function 'std-square) '(std-square 3) nil)
        (funcall (compiler-macro-function 'std-square) '(std-square y) nil)
        (funcall (compiler-macro-function 'std-square) '(funcall #'std-square 4) nil)
        (std-square 5) (compiler-macro-function 'car)
        (progn (setf (compiler-macro-function 'std-square) nil)
               (compiler-macro-function 'std-square))))
=> (9 (STD-SQUARE Y) 16 25 NIL NIL)

;; LOAD-TIME-VALUE evaluates its form once for its place in the code.
(let ((count 0))
  (declare (special count))
  (defun std-ltv () (load-time-value (progn (incf (symbol-value 'std-ltv-count)) 'done)))
  (setq std-ltv-count 0)
  (list (std-ltv) (std-ltv) (std-ltv) std-ltv-count))
=> (DONE DONE DONE 1)

(with-compilation-unit (:override t) (+ 1 2))
=> 3

(list (compile-file-pathname "foo") *compile-print* *compile-verbose*)
=> ("foo.LSP" NIL NIL)

;; The limits are true of the kernel: a call of CALL-ARGUMENTS-LIMIT - 1
;; arguments works at the top level.
(list (>= call-arguments-limit 50) (>= multiple-values-limit 20)
      (>= lambda-parameters-limit 50) char-code-limit array-rank-limit
      array-dimension-limit array-total-size-limit lambda-list-keywords
      (= (length (apply #'list (make-list (- call-arguments-limit 100))))
         (- call-arguments-limit 100)))
=> (T T T 256 129 4194304 4194304 (&ALLOW-OTHER-KEYS &AUX &BODY &ENVIRONMENT &KEY &OPTIONAL &REST &WHOLE) T)

(code-char (1- char-code-limit))
=> #\я

;; :ALLOW-OTHER-KEYS in a call: with a true value, keywords the callee does
;; not take are ignored; with NIL they are errors as without it.  The
;; leftmost occurrence counts.  The same for built-ins, for library
;; functions and for user functions, called directly, by FUNCALL or APPLY.
(progn
  (defun std-keys (&key a (b 2)) (list a b))
  (list (std-keys :a 1 :c 3 :allow-other-keys t)
        (std-keys :allow-other-keys t :zz 9)
        (std-keys :allow-other-keys nil :a 5)
        (funcall #'std-keys :d 4 :allow-other-keys t :b 7)
        (apply #'std-keys '(:allow-other-keys t :allow-other-keys nil :e 1))
        (count 'a '(a b a) :allow-other-keys t :foo 1)
        (find 'a '(a b a) :count 3 :allow-other-keys t)
        (funcall #'position 'b '(a b a) :bar 2 :allow-other-keys t)
        (apply #'remove 'a '(a b a) '(:allow-other-keys t :x 1 :count 1))
        (make-hash-table :test 'eql :weakness :key :allow-other-keys t)
        (write-to-string 12 :base 8 :allow-other-keys t :colour 'red)
        (with-output-to-string (s) (write-string "abc" s :start 1 :allow-other-keys t :x 2))))
=> ((1 2) (NIL 2) (5 2) (NIL 7) (NIL 2) 2 A 1 (B A) #<Hash-table 0/13> "14" "bc")

(std-keys :a 1 :c 3)
!! 5170 :C

(std-keys :allow-other-keys nil :c 3)
!! 5170 :C

(std-keys :allow-other-keys nil :a 1 :allow-other-keys t :c 3)
!! 5170 :C

(find 'a '(a) :count 3 :allow-other-keys nil)
!! 5170 :COUNT

(find 'a '(a) :zz 1)
!! 5170 :ZZ

;; The value form of a keyword nobody takes is evaluated too.
(let ((n 0))
  (find 'a '(a) :zz (incf n) :allow-other-keys t)
  n)
=> 1

;; A global symbol macro stands for its expansion wherever the symbol is
;; a variable no binding covers: read, assigned with SETQ, SETF, INCF and
;; MULTIPLE-VALUE-SETQ, seen from functions; a LET of the symbol binds an
;; ordinary variable; MACROEXPAND-1 expands it.
(progn
  (defvar *symbol-macro-cell* (list 1 2))
  (define-symbol-macro cell-head (car *symbol-macro-cell*))
  (list cell-head (let ((cell-head 5)) (setq cell-head 6) cell-head) (copy-list *symbol-macro-cell*)
        (progn (setq cell-head 10) (copy-list *symbol-macro-cell*))
        (progn (incf cell-head) (funcall (lambda () cell-head)))
        (progn (multiple-value-setq (cell-head) (values 20 30)) (copy-list *symbol-macro-cell*))
        (multiple-value-list (macroexpand-1 'cell-head)) (boundp 'cell-head)
        (symbol-macrolet ((cell-head 3)) cell-head)))
=> (1 6 (1 2) (10 2) 11 (20 2) ((CAR *SYMBOL-MACRO-CELL*) T) NIL 3)

(define-symbol-macro *symbol-macro-cell* 3)
!! 5170 *SYMBOL-MACRO-CELL*
