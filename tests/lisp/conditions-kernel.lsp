;;; The kernel's own errors as conditions: each made by a real failing
;;; operation, of the fitting type, with its objects in the standard slots
;;; and the kernel's message as its report; the restarts they offer.

(defmacro caught (form &rest readers)
  `(handler-case (progn ,form :no-error)
     (condition (c) (list (type-of c) ,@(mapcar (lambda (r) `(,r c)) readers)))))

(defun report (c) (format nil "~A" c))

;; ---------------------------------------------------------------------
;; Types and slots

(caught (car 5) type-error-datum report)
=> (TYPE-ERROR 5 "The argument 5 is of the wrong type or out of range")

(type-error-expected-type (nth-value 1 (ignore-errors (cdr 'x))))
=> LIST

(caught (+ 1 "two") type-error-datum type-error-expected-type)
=> (TYPE-ERROR "two" NUMBER)

(caught no-such-variable-here cell-error-name report)
=> (UNBOUND-VARIABLE NO-SUCH-VARIABLE-HERE "The variable NO-SUCH-VARIABLE-HERE is unbound")

(caught (no-such-function-here 1 2) cell-error-name)
=> (UNDEFINED-FUNCTION NO-SUCH-FUNCTION-HERE)

(caught (funcall 'no-such-function-either) cell-error-name)
=> (UNDEFINED-FUNCTION NO-SUCH-FUNCTION-EITHER)

(caught (/ 10 0) arithmetic-error-operation)
=> (DIVISION-BY-ZERO /)

(caught (rem 10 0) arithmetic-error-operation)
=> (DIVISION-BY-ZERO REM)

(let ((s (make-string-input-stream "(a b")))
  (handler-case (read s)
    (end-of-file (c) (list (type-of c) (eq (stream-error-stream c) s)))))
=> (END-OF-FILE T)

(caught (read-from-string "") report)
=> (END-OF-FILE "Unexpected end of file on #<Input-string-stream \"\">")

(caught (open "no-such-dir/no-such-file.txt") file-error-pathname report)
=> (FILE-ERROR "no-such-dir/no-such-file.txt" "File no-such-dir/no-such-file.txt does not exist")

;; A file that is no image: the image loader's error names it.
(progn
  (with-open-file (s "not-an-image.rol" :direction :output :if-exists :supersede)
    (write-line "no world here" s))
  (caught (load-image "not-an-image.rol") file-error-pathname))
=> (FILE-ERROR "not-an-image.rol")

(caught (read-from-string ")") report)
=> (READER-ERROR "Unmatched ): no list is open")

(caught (read-from-string "#<foo>"))
=> (READER-ERROR)

(caught (throw 'no-catch-for-this 1) report)
=> (CONTROL-ERROR "No tag body or catch is active for the tag NO-CATCH-FOR-THIS")

(caught (return-from no-such-block 1))
=> (CONTROL-ERROR)

(caught (funcall (lambda (a b) (list a b)) 1))
=> (PROGRAM-ERROR)

(caught (format nil "~Q"))
=> (SIMPLE-ERROR)

;; Conditions of messages without a better type are SIMPLE-ERRORs whose
;; format control is the kernel's message.
(handler-case (make-instance 'no-such-class-at-all)
  (simple-error (c)
    (list (simple-condition-format-arguments c) (search "NO-SUCH-CLASS-AT-ALL is not" (report c)))))
=> ((NO-SUCH-CLASS-AT-ALL) 0)

(defclass slotted () ((a :initarg :a)))

(handler-case (slot-value (make-instance 'slotted) 'a)
  (unbound-slot (c) (list (cell-error-name c) (type-of (unbound-slot-instance c)))))
=> (A SLOTTED)

;; Running out of stack is a STORAGE-CONDITION, and the session goes on.
(defun bottomless (n) (+ 1 (bottomless (+ n 1))))

(handler-case (bottomless 0)
  (storage-condition (c) (list :out-of-stack (report c))))
=> (:OUT-OF-STACK "Lisp stack overflow")

(+ 1 2)
=> 3

;; ---------------------------------------------------------------------
;; Restarts of kernel errors

;; A replaceable error offers USE-VALUE: its value stands for the failed
;; operation's.
(handler-bind ((type-error (lambda (c) (use-value 100 c))))
  (+ 1 (car 5)))
=> 101

(handler-bind ((undefined-function (lambda (c) c (use-value :instead))))
  (list (some-function-nobody-wrote 1)))
=> (:INSTEAD)

;; An unbound variable offers STORE-VALUE too, which sets it.
(progn
  (makunbound 'fresh-variable)
  (handler-bind ((unbound-variable (lambda (c) c (store-value 42))))
    (list (+ fresh-variable 1) fresh-variable)))
=> (43 42)

;; A RESTART-CASE of the program's own around a kernel error.
(restart-case
    (handler-bind ((type-error (lambda (c) (invoke-restart 'fallback (type-error-datum c)))))
      (char-upcase 42))
  (fallback (datum) (list :fell-back datum)))
=> (:FELL-BACK 42)

;; A continuable kernel error offers CONTINUE: too many arguments are
;; ignored.
(handler-bind ((program-error (lambda (c)
                                (list (report (find-restart 'continue c)) (continue c)))))
  (funcall #'car '(1 2) 'extra))
=> 1

(handler-bind ((program-error #'continue))
  (list (funcall #'cons 1 2 3)))
=> ((1 . 2))

;; A kernel error that no handler takes still reaches the error-catching
;; context with its code and objects.
(handler-case (car 'not-a-list) (warning () :warned))
!! 0x1432 NOT-A-LIST

(handler-bind ((error (lambda (c) c nil))) (cdr 7))
!! 0x1432 7

;; ---------------------------------------------------------------------
;; Kernel warnings and the kernel's error catching

;; A file probed for does not exist: the kernel's warning, as a WARNING.
(handler-case (open "absent-file.txt" :direction :probe :if-does-not-exist nil)
  (warning (c) (list (type-of c) (report c))))
=> (SIMPLE-WARNING "File absent-file.txt does not exist")

(handler-bind ((warning #'muffle-warning))
  (open "absent-file.txt" :direction :probe :if-does-not-exist nil))
-> 
=> NIL

;; The library's own error catching keeps what it catches: a handler
;; outside it never sees an error inside it.
(let ((seen nil))
  (handler-bind ((error (lambda (c) c (setq seen t))))
    (defclass typed-later () ((a :type type-defined-later :initarg :a)))
    (list (slot-value (make-instance 'typed-later :a 1) 'a) seen)))
=> (1 NIL)

(let ((seen nil))
  (handler-bind ((error (lambda (c) c (setq seen t))))
    (list (not (null (nth-value 1 (%catch-error (car 1))))) seen)))
=> (T NIL)
